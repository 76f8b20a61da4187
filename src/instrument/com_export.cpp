// SPDX-License-Identifier: MIT
#include "instrument/com_export.h"

#include <algorithm>
#include <cwctype>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/com_variant.h"
#include "instrument/objects.h"

namespace vantel {

// {61CB6512-00DA-4016-BB9C-72E63CA09198}
const CLSID kAnalyserClassId = {
    0x61cb6512, 0x00da, 0x4016, {0xbb, 0x9c, 0x72, 0xe6, 0x3c, 0xa0, 0x91, 0x98}};

namespace {

using instrument::AnalyserObject;
using instrument::MemberListing;

constexpr wchar_t kDescription[] = L"Vantel Application";

// DISPID 0 is DISPID_VALUE, an object's default member, which ours have none of.
constexpr DISPID kFirstDispid = 1;

bool same_name(std::string_view ours, std::wstring_view asked) {
    if (ours.size() != asked.size())
        return false;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(static_cast<unsigned char>(ours[i]))) !=
            std::towlower(static_cast<wint_t>(asked[i])))
            return false;
    }
    return true;
}

// Fills `info` (when the client gave one) with the analyser's reason.
HRESULT raise(EXCEPINFO* info, const std::string& reason, HRESULT scode) {
    if (info == nullptr)
        return scode;
    *info = EXCEPINFO{};
    info->bstrSource = SysAllocString(kAnalyserProgId);
    try {
        info->bstrDescription = bstr_from_utf8(reason, {}).release();
    } catch (const AutomationError&) {
        info->bstrDescription = SysAllocString(L"the analyser refused the access");
    }
    info->scode = scode;
    return DISP_E_EXCEPTION;
}

class AnalyserDispatch final : public IDispatch {
public:
    AnalyserDispatch(std::shared_ptr<AnalyserObject> object, ServerLifetime& lifetime)
        : object_(std::move(object)), members_(object_->served_members()), lifetime_(lifetime) {
        lifetime_.add();
    }
    AnalyserDispatch(const AnalyserDispatch&) = delete;
    AnalyserDispatch& operator=(const AnalyserDispatch&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch)
            return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // No type library: clients bind by name. For a client that lists the members
    // (vantel-dmm --list-members), the type information is made from the same tables on demand.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (info == nullptr)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        if (!type_info_) {
            const HRESULT made = make_type_info();
            if (FAILED(made))
                return made;
        }
        type_info_->AddRef();
        *info = type_info_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (iid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (names == nullptr || ids == nullptr || count == 0)
            return E_INVALIDARG;
        // The members take no named arguments.
        for (UINT i = 1; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        ids[0] = DISPID_UNKNOWN;
        const std::wstring_view asked = names[0] ? std::wstring_view(names[0]) : L"";
        for (std::size_t i = 0; i < members_.size(); ++i) {
            if (same_name(members_[i].name, asked)) {
                ids[0] = static_cast<DISPID>(i) + kFirstDispid;
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* bad_argument) override {
        if (iid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (id < kFirstDispid || static_cast<std::size_t>(id - kFirstDispid) >= members_.size())
            return DISP_E_MEMBERNOTFOUND;
        const MemberListing& member = members_[static_cast<std::size_t>(id - kFirstDispid)];
        const UINT arguments = params ? params->cArgs : 0;
        try {
            if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
                if (!member.writable)
                    return DISP_E_MEMBERNOTFOUND;
                if (arguments != 1)
                    return DISP_E_BADPARAMCOUNT;
                return write(member, params->rgvarg[0], exception, bad_argument);
            }
            if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
                return DISP_E_MEMBERNOTFOUND;
            if (arguments != 0)
                return DISP_E_BADPARAMCOUNT;
            return read(member, result, exception);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const std::exception& e) {
            // Nothing may cross back into COM as a C++ exception.
            return raise(exception, e.what(), E_FAIL);
        }
    }

    ~AnalyserDispatch() {
        if (type_info_)
            type_info_->Release();
        lifetime_.release();
    }

private:
    // A property get for every member and a put for every writable one, typed by what the member
    // reads as now (the tables hold no types); numbered as GetIDsOfNames numbers them.
    HRESULT make_type_info() {
        std::vector<MemberInfo> described;
        try {
            described = object_->members();
        } catch (const AutomationError&) {
            return E_FAIL;
        }
        names_.clear();
        for (const MemberInfo& m : described) {
            try {
                names_.push_back(utf16_from_utf8(m.name, m.name));
            } catch (const AutomationError&) {
                return E_FAIL;
            }
        }
        value_parameter_ = L"value";
        parameters_.assign(described.size(), PARAMDATA{});
        std::vector<METHODDATA> methods;
        UINT slot = 7;  // the vtable's places after IDispatch's own seven
        for (std::size_t i = 0; i < described.size(); ++i) {
            const auto listed = std::find_if(members_.begin(), members_.end(), [&](const auto& l) {
                return l.name == described[i].name;
            });
            if (listed == members_.end())
                continue;
            const DISPID id = static_cast<DISPID>(listed - members_.begin()) + kFirstDispid;
            const VARTYPE type = variant_type_for(described[i].kind);
            methods.push_back(
                {names_[i].data(), nullptr, id, slot++, CC_STDCALL, 0, DISPATCH_PROPERTYGET, type});
            if (described[i].writable) {
                parameters_[i] = PARAMDATA{value_parameter_.data(), type};
                methods.push_back({names_[i].data(), &parameters_[i], id, slot++, CC_STDCALL, 1,
                                   DISPATCH_PROPERTYPUT, VT_EMPTY});
            }
        }
        INTERFACEDATA description{methods.data(), static_cast<UINT>(methods.size())};
        return CreateDispTypeInfo(&description, LOCALE_SYSTEM_DEFAULT, &type_info_);
    }

    static VARTYPE variant_type_for(Value::Kind kind) {
        switch (kind) {
            case Value::Kind::Boolean:
                return VT_BOOL;
            case Value::Kind::Integer:
                return VT_I4;  // as to_variant answers whole numbers
            case Value::Kind::Double:
                return VT_R8;
            case Value::Kind::Text:
                return VT_BSTR;
            case Value::Kind::Object:
                return VT_DISPATCH;
            case Value::Kind::Empty:
            case Value::Kind::Null:
                break;
        }
        return VT_VARIANT;
    }

    HRESULT read(const MemberListing& member, VARIANT* result, EXCEPINFO* exception) {
        Value value;
        try {
            value = object_->get(member.name);
        } catch (const AutomationError& e) {
            return raise(exception, e.reason(), E_FAIL);
        }
        if (result == nullptr)
            return S_OK;  // a call for its effect: reading has none
        VariantInit(result);
        if (value.kind() == Value::Kind::Object) {
            // A sub-object: a COM object of its own over the same tables.
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) =
                value.as_object() ? make_analyser_dispatch(value.as_object(), lifetime_) : nullptr;
            return S_OK;
        }
        try {
            Variant converted = to_variant(value, member.name);
            *result = *converted;          // the result takes over what the VARIANT owns...
            VariantInit(converted.get());  // ...and the copy no longer owns it
        } catch (const AutomationError& e) {
            return raise(exception, e.reason(), E_FAIL);
        }
        return S_OK;
    }

    HRESULT write(const MemberListing& member, const VARIANT& argument, EXCEPINFO* exception,
                  UINT* bad_argument) {
        Value value;
        try {
            value = from_variant(argument, member.name, [](IDispatch*) -> ObjectRef {
                throw AutomationError({}, "no member of the analyser takes an object");
            });
        } catch (const AutomationError&) {
            if (bad_argument != nullptr)
                *bad_argument = 0;
            return DISP_E_TYPEMISMATCH;
        }
        try {
            object_->set(member.name, value);
        } catch (const AutomationError& e) {
            return raise(exception, e.reason(), E_INVALIDARG);
        }
        return S_OK;
    }

    LONG references_ = 1;
    std::shared_ptr<AnalyserObject> object_;
    std::vector<MemberListing> members_;
    ServerLifetime& lifetime_;
    // Made at the first GetTypeInfo; the names it was made from stay with it.
    ITypeInfo* type_info_ = nullptr;
    std::vector<std::wstring> names_;
    std::wstring value_parameter_;
    std::vector<PARAMDATA> parameters_;
};

// Registry keys under HKEY_CURRENT_USER, closed when they go.
class Key {
public:
    Key() = default;
    ~Key() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::wstring clsid_text() {
    wchar_t text[64] = {};
    StringFromGUID2(kAnalyserClassId, text, 64);
    return text;
}

std::string registry_failure(const std::wstring& key, LSTATUS status) {
    std::string name;
    try {
        name = utf8_from_utf16(key, {});
    } catch (const AutomationError&) {
        name = "a key";
    }
    return "cannot write HKEY_CURRENT_USER\\" + name + ": " +
           hresult_text(HRESULT_FROM_WIN32(static_cast<DWORD>(status)));
}

// Sets the default value of HKEY_CURRENT_USER\`key` (creating it) to `value`.
std::string write_key(const std::wstring& key, const std::wstring& value) {
    Key created;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, created.out(), nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(created.get(), nullptr, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    return status == ERROR_SUCCESS ? std::string() : registry_failure(key, status);
}

// The default value of HKEY_CURRENT_USER\`key`; empty when there is none.
std::wstring read_key(const std::wstring& key) {
    wchar_t value[256] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return {};
    return value;
}

std::string delete_tree(const std::wstring& key) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return {};
    return registry_failure(key, status);
}

const std::wstring kClasses = L"Software\\Classes\\";

}  // namespace

void ServerLifetime::release() {
    if (--count_ == 0 && on_unused_)
        on_unused_();
}

IDispatch* make_analyser_dispatch(ObjectRef object, ServerLifetime& lifetime) {
    auto ours = std::dynamic_pointer_cast<AnalyserObject>(std::move(object));
    if (!ours)
        throw AutomationError({}, "only the analyser's own objects can be served");
    return new AnalyserDispatch(std::move(ours), lifetime);
}

HRESULT AnalyserClassFactory::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory)
        return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
}

HRESULT AnalyserClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    IDispatch* application = nullptr;
    try {
        application = make_analyser_dispatch(analyser_.application(), lifetime_);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = application->QueryInterface(iid, out);
    application->Release();  // the client's reference, if any, keeps it
    return hr;
}

HRESULT AnalyserClassFactory::LockServer(BOOL lock) {
    if (lock)
        lifetime_.add();
    else
        lifetime_.release();
    return S_OK;
}

std::string register_analyser_server(const std::wstring& server_path) {
    const std::wstring clsid = clsid_text();
    const std::wstring class_key = kClasses + L"CLSID\\" + clsid;
    const std::wstring prog_key = kClasses + kAnalyserProgId;
    // Quoted, because the path may hold spaces ("C:\Program Files\...").
    for (const auto& [key, value] : {
             std::pair{prog_key, std::wstring(kDescription)},
             std::pair{prog_key + L"\\CLSID", clsid},
             std::pair{class_key, std::wstring(kDescription)},
             std::pair{class_key + L"\\ProgID", std::wstring(kAnalyserProgId)},
             std::pair{class_key + L"\\LocalServer32", L"\"" + server_path + L"\""},
         }) {
        if (std::string failed = write_key(key, value); !failed.empty())
            return failed;
    }
    return {};
}

std::string unregister_analyser_server() {
    const std::wstring clsid = clsid_text();
    const std::wstring prog_key = kClasses + kAnalyserProgId;
    std::string failed;
    if (read_key(prog_key + L"\\CLSID") == clsid)
        failed = delete_tree(prog_key);
    if (std::string also = delete_tree(kClasses + L"CLSID\\" + clsid); failed.empty())
        failed = also;
    return failed;
}

}  // namespace vantel
