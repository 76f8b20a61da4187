// SPDX-License-Identifier: MIT
#include "instrument/com_export.h"

#include <algorithm>
#include <cwctype>
#include <map>
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

// What every object served for one analyser shares: the count of objects in clients' hands, and
// the integer type each member that reads back as written was last written with, by
// "Object.Member", so that every client reads it back in that type.
struct ServedAnalyser {
    explicit ServedAnalyser(ServerLifetime& lifetime_in) : lifetime(lifetime_in) {}
    ServerLifetime& lifetime;
    std::map<std::string, VARTYPE, std::less<>> written_types;
};

namespace {

using instrument::MemberInfo;
using instrument::MemberType;

constexpr wchar_t kDescription[] = L"Vantel Application";

// DISPID 0 is DISPID_VALUE, an object's default member, which ours have none of.
constexpr DISPID kFirstDispid = 1;

// The analyser's objects and their members, from the tables that also drive the D-Bus export.
const std::vector<MemberInfo>& members_of(std::string_view object) {
    static const std::vector<instrument::ObjectInfo> model = instrument::object_model();
    static const std::vector<MemberInfo> none;
    for (const instrument::ObjectInfo& o : model) {
        if (o.name == object)
            return o.members;
    }
    return none;
}

// The VARIANT type a member has by nature, as the D-Bus export gives its signature.
VARTYPE natural_type(MemberType type) {
    switch (type) {
        case MemberType::Code:
            return VT_I2;
        case MemberType::Int32:
            return VT_I4;
        case MemberType::Int64:
            return VT_I8;
        case MemberType::Double:
            return VT_R8;
        case MemberType::Text:
            return VT_BSTR;
        case MemberType::Object:
            return VT_DISPATCH;
        case MemberType::Boolean:
        case MemberType::AsWritten:
            break;
    }
    return VT_BOOL;
}

bool is_integer_type(VARTYPE type) {
    switch (type) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

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
    // `name`: the object's name among the analyser's objects, empty for the application.
    AnalyserDispatch(ObjectRef object, std::string_view name,
                     std::shared_ptr<ServedAnalyser> served)
        : object_(std::move(object)),
          name_(name),
          members_(members_of(name)),
          served_(std::move(served)) {
        served_->lifetime.add();
    }
    ~AnalyserDispatch() {
        if (type_info_)
            type_info_->Release();
        served_->lifetime.release();
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
    // (vantel-dmm --list-members), the type information is made from the same tables.
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
        const MemberInfo& member = members_[static_cast<std::size_t>(id - kFirstDispid)];
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

private:
    std::string path(const MemberInfo& member) const {
        return name_.empty() ? std::string(member.name)
                             : std::string(name_) + "." + std::string(member.name);
    }

    // A property get for every member and a put for every writable one, each of its natural
    // type, numbered as GetIDsOfNames numbers them.
    HRESULT make_type_info() {
        names_.clear();
        for (const MemberInfo& m : members_)
            names_.push_back(utf16_from_utf8(m.name, m.name));
        value_parameter_ = L"value";
        parameters_.assign(members_.size(), PARAMDATA{});
        std::vector<METHODDATA> methods;
        UINT slot = 7;  // the vtable's places after IDispatch's own seven
        for (std::size_t i = 0; i < members_.size(); ++i) {
            const DISPID id = static_cast<DISPID>(i) + kFirstDispid;
            const VARTYPE type = natural_type(members_[i].type);
            methods.push_back(
                {names_[i].data(), nullptr, id, slot++, CC_STDCALL, 0, DISPATCH_PROPERTYGET, type});
            if (members_[i].writable) {
                parameters_[i] = PARAMDATA{value_parameter_.data(), type};
                methods.push_back({names_[i].data(), &parameters_[i], id, slot++, CC_STDCALL, 1,
                                   DISPATCH_PROPERTYPUT, VT_EMPTY});
            }
        }
        INTERFACEDATA description{methods.data(), static_cast<UINT>(methods.size())};
        return CreateDispTypeInfo(&description, LOCALE_SYSTEM_DEFAULT, &type_info_);
    }

    HRESULT read(const MemberInfo& member, VARIANT* result, EXCEPINFO* exception) {
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
            // A sub-object: a COM object of its own over its own table.
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = value.as_object()
                                     ? new AnalyserDispatch(value.as_object(), member.name, served_)
                                     : nullptr;
            return S_OK;
        }
        try {
            Variant converted = to_variant(value, member.name);
            *result = *converted;          // the result takes over what the VARIANT owns...
            VariantInit(converted.get());  // ...and the copy no longer owns it
        } catch (const AutomationError& e) {
            return raise(exception, e.reason(), E_FAIL);
        }
        // A whole number in its member's own type (a code is 16 bits), or in the type it was
        // written with; a value that does not fit (an odd one a test scripted) stays as it is.
        VARTYPE wanted = natural_type(member.type);
        if (member.type == MemberType::AsWritten) {
            const auto written = served_->written_types.find(path(member));
            wanted = written != served_->written_types.end() ? written->second : VARTYPE{VT_EMPTY};
        }
        if (value.kind() == Value::Kind::Integer && is_integer_type(wanted) &&
            V_VT(result) != wanted) {
            VARIANT narrowed;
            VariantInit(&narrowed);
            if (SUCCEEDED(VariantChangeType(&narrowed, result, 0, wanted))) {
                VariantClear(result);
                *result = narrowed;
            }
        }
        return S_OK;
    }

    HRESULT write(const MemberInfo& member, const VARIANT& argument, EXCEPINFO* exception,
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
        if (member.type == MemberType::AsWritten) {
            const auto type = static_cast<VARTYPE>(V_VT(&argument) & ~VT_BYREF);
            if (is_integer_type(type))
                served_->written_types.insert_or_assign(path(member), type);
            else
                served_->written_types.erase(path(member));
        }
        return S_OK;
    }

    LONG references_ = 1;
    ObjectRef object_;
    std::string_view name_;
    const std::vector<MemberInfo>& members_;
    std::shared_ptr<ServedAnalyser> served_;
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

IDispatch* make_analyser_dispatch(ObjectRef application, ServerLifetime& lifetime) {
    return new AnalyserDispatch(std::move(application), {},
                                std::make_shared<ServedAnalyser>(lifetime));
}

AnalyserClassFactory::AnalyserClassFactory(Analyser analyser, ServerLifetime& lifetime)
    : analyser_(std::move(analyser)), served_(std::make_shared<ServedAnalyser>(lifetime)) {}

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
        application = new AnalyserDispatch(analyser_.application(), {}, served_);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = application->QueryInterface(iid, out);
    application->Release();  // the client's reference, if any, keeps it
    return hr;
}

HRESULT AnalyserClassFactory::LockServer(BOOL lock) {
    if (lock)
        served_->lifetime.add();
    else
        served_->lifetime.release();
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
