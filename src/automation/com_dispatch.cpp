// SPDX-License-Identifier: MIT
#include "automation/com_dispatch.h"

#include "automation/com_variant.h"

namespace vantel {

namespace {

// A late-bound automation client reads a member with both flags, because to it a property and a
// method without arguments look alike; servers are written against that, so we do the same.
constexpr WORD kReadFlags = DISPATCH_PROPERTYGET | DISPATCH_METHOD;

// The server fills EXCEPINFO only when it raises an error, but its strings are ours to free.
struct ExceptionInfo {
    EXCEPINFO info{};
    ExceptionInfo() = default;
    ExceptionInfo(const ExceptionInfo&) = delete;
    ExceptionInfo& operator=(const ExceptionInfo&) = delete;
    ~ExceptionInfo() {
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
    }
};

bool analyser_gone(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED || hr == RPC_E_SERVER_DIED_DNE ||
           hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED);
}

std::string call_failure(HRESULT hr) {
    if (analyser_gone(hr))
        return "the analyser is no longer running (" + hresult_text(hr) + ")";
    return hresult_text(hr);
}

std::string bstr_text(BSTR s) {
    try {
        return s == nullptr ? std::string() : utf8_from_utf16({s, SysStringLen(s)}, {});
    } catch (const AutomationError&) {
        return "(unreadable text)";
    }
}

std::string raised_error(ExceptionInfo& error) {
    EXCEPINFO& info = error.info;
    if (info.pfnDeferredFillIn != nullptr)
        info.pfnDeferredFillIn(&info);
    const std::string description = bstr_text(info.bstrDescription);
    const std::string source = bstr_text(info.bstrSource);
    std::string reason = description.empty() ? std::string("the analyser raised an error")
                                             : "the analyser raised \"" + description + '"';
    reason += " (";
    if (!source.empty())
        reason += source + ", ";
    reason += info.scode != 0 ? hresult_text(info.scode) : "error " + std::to_string(info.wCode);
    reason += ')';
    return reason;
}

std::string invoke_failure(HRESULT hr, ExceptionInfo& error, const Value* written) {
    if (hr == DISP_E_EXCEPTION)
        return raised_error(error);
    if (hr == DISP_E_MEMBERNOTFOUND)
        return written ? "the analyser does not let this member be written"
                       : "the analyser does not let this member be read";
    if (written && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_BADVARTYPE))
        return "the analyser refused " + written->describe() + " (" + hresult_text(hr) + ")";
    return call_failure(hr);
}

// What a read of a member declared with `type` gives; Empty for a VARIANT, which may hold anything.
Value::Kind kind_of_type(VARTYPE type) {
    switch (type) {
        case VT_BOOL:
            return Value::Kind::Boolean;
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
            return Value::Kind::Integer;
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DECIMAL:
            return Value::Kind::Double;
        case VT_BSTR:
            return Value::Kind::Text;
        case VT_DISPATCH:
        case VT_PTR:  // a pointer to an interface the type library defines
            return Value::Kind::Object;
        default:
            return Value::Kind::Empty;
    }
}

struct TypeAttributes {
    ITypeInfo* info;
    TYPEATTR* attributes = nullptr;
    explicit TypeAttributes(ITypeInfo* i) : info(i) {
        if (FAILED(info->GetTypeAttr(&attributes)))
            attributes = nullptr;
    }
    ~TypeAttributes() {
        if (attributes)
            info->ReleaseTypeAttr(attributes);
    }
    TypeAttributes(const TypeAttributes&) = delete;
    TypeAttributes& operator=(const TypeAttributes&) = delete;
};

using TypeInfoPtr = std::unique_ptr<ITypeInfo, ComRelease>;

// A coclass describes no members of its own: its default interface does.
TypeInfoPtr described_interface(TypeInfoPtr info) {
    const TypeAttributes a(info.get());
    if (!a.attributes || a.attributes->typekind != TKIND_COCLASS || a.attributes->cImplTypes == 0)
        return info;
    HREFTYPE ref = 0;
    ITypeInfo* raw = nullptr;
    if (FAILED(info->GetRefTypeOfImplType(0, &ref)) || FAILED(info->GetRefTypeInfo(ref, &raw)) ||
        raw == nullptr)
        return info;
    return TypeInfoPtr(raw);
}

std::string member_name(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr)))
        return {};
    const Bstr owned(name);
    return bstr_text(owned.get());
}

}  // namespace

ComApartment::ComApartment(std::string_view who) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // Already a multithreaded apartment: calls work from it too, and it is not ours to end.
    if (hr == RPC_E_CHANGED_MODE)
        return;
    if (FAILED(hr))
        throw AutomationError(std::string(who), "COM cannot start (" + hresult_text(hr) + ")");
    balance_ = true;  // S_OK and S_FALSE alike are undone by one CoUninitialize
}

ComApartment::~ComApartment() {
    if (balance_)
        CoUninitialize();
}

DispatchObject::DispatchObject(IDispatch* dispatch, std::shared_ptr<const ComApartment> apartment)
    : apartment_(std::move(apartment)), dispatch_(dispatch) {
    dispatch_->AddRef();
}

DISPID DispatchObject::dispid(std::string_view member) {
    if (auto known = dispids_.find(member); known != dispids_.end())
        return known->second;
    std::wstring name = utf16_from_utf8(member, member);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == DISP_E_UNKNOWNNAME)
        throw AutomationError(std::string(member), "the analyser has no member of this name");
    if (FAILED(hr))
        throw AutomationError(std::string(member), call_failure(hr));
    dispids_.emplace(member, id);
    return id;
}

Value DispatchObject::get(std::string_view member) {
    const DISPID id = dispid(member);
    DISPPARAMS no_arguments{nullptr, nullptr, 0, 0};
    Variant result;
    ExceptionInfo error;
    UINT bad_argument = 0;
    const HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kReadFlags,
                                         &no_arguments, result.get(), &error.info, &bad_argument);
    if (FAILED(hr))
        throw AutomationError(std::string(member), invoke_failure(hr, error, nullptr));
    return from_variant(*result, member, [this](IDispatch* sub) -> ObjectRef {
        return std::make_shared<DispatchObject>(sub, apartment_);
    });
}

void DispatchObject::set(std::string_view member, const Value& value) {
    const DISPID id = dispid(member);
    Variant argument = to_variant(value, member);
    // A property write passes its value as the one named argument DISPID_PROPERTYPUT; an object
    // goes by reference (DISPATCH_PROPERTYPUTREF), as late-bound clients assign objects.
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS arguments{argument.get(), &named, 1, 1};
    const WORD flags = V_VT(argument.get()) == VT_DISPATCH ? WORD{DISPATCH_PROPERTYPUTREF}
                                                           : WORD{DISPATCH_PROPERTYPUT};
    ExceptionInfo error;
    UINT bad_argument = 0;
    const HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &arguments,
                                         nullptr, &error.info, &bad_argument);
    if (FAILED(hr))
        throw AutomationError(std::string(member), invoke_failure(hr, error, &value));
}

std::vector<MemberInfo> DispatchObject::members() {
    UINT count = 0;
    ITypeInfo* raw = nullptr;
    if (FAILED(dispatch_->GetTypeInfoCount(&count)) || count == 0 ||
        FAILED(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &raw)) || raw == nullptr)
        throw AutomationError({},
                              "the analyser does not describe its members (no type information)");
    const TypeInfoPtr info = described_interface(TypeInfoPtr(raw));
    const TypeAttributes a(info.get());
    if (!a.attributes)
        throw AutomationError({}, "the analyser's type information cannot be read");

    // A property is a get function, a put function, or both, under one member ID.
    std::vector<MemberInfo> list;
    std::map<MEMBERID, std::size_t> index;
    auto entry = [&](MEMBERID id) -> MemberInfo& {
        auto [at, added] = index.emplace(id, list.size());
        if (added)
            list.push_back({member_name(info.get(), id), Value::Kind::Empty, false, false});
        return list[at->second];
    };
    for (UINT i = 0; i < a.attributes->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f)) || f == nullptr)
            continue;
        const bool hidden = (f->wFuncFlags & (FUNCFLAG_FRESTRICTED | FUNCFLAG_FHIDDEN)) != 0;
        if (!hidden && f->invkind == INVOKE_PROPERTYGET && f->cParams == 0)
            entry(f->memid).kind = kind_of_type(f->elemdescFunc.tdesc.vt);
        else if (!hidden && (f->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)))
            entry(f->memid).writable = true;
        info->ReleaseFuncDesc(f);
    }
    for (UINT i = 0; i < a.attributes->cVars; ++i) {
        VARDESC* v = nullptr;
        if (FAILED(info->GetVarDesc(i, &v)) || v == nullptr)
            continue;
        MemberInfo& m = entry(v->memid);
        m.kind = kind_of_type(v->elemdescVar.tdesc.vt);
        m.constant = v->varkind == VAR_CONST;
        m.writable = !m.constant && !(v->wVarFlags & VARFLAG_FREADONLY);
        info->ReleaseVarDesc(v);
    }
    // Type information has no word for "never changes": a read-only sub-object is one, and so is
    // a read-only whole number named as the analyser names its constants.
    for (MemberInfo& m : list) {
        if (!m.writable && (m.kind == Value::Kind::Object ||
                            (m.kind == Value::Kind::Integer && is_constant_name(m.name))))
            m.constant = true;
    }
    return list;
}

ObjectRef obtain_com_application(std::string_view prog_id) {
    const std::string who(prog_id);
    auto apartment = std::make_shared<const ComApartment>(prog_id);
    const std::wstring name = utf16_from_utf8(prog_id, prog_id);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid);
    if (hr == CO_E_CLASSSTRING)
        throw AutomationError(who,
                              "no program of this name is registered; is the analyser "
                              "installed? (" +
                                  hresult_text(hr) + ")");
    if (FAILED(hr))
        throw AutomationError(who, "cannot look the name up (" + hresult_text(hr) + ")");
    IDispatch* raw = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&raw));
    if (hr == E_NOINTERFACE)
        throw AutomationError(who, "the program offers no automation interface (IDispatch)");
    if (FAILED(hr) || raw == nullptr)
        throw AutomationError(who, "the analyser could not be started (" + hresult_text(hr) + ")");
    const std::unique_ptr<IDispatch, ComRelease> created(raw);
    return std::make_shared<DispatchObject>(raw, std::move(apartment));
}

}  // namespace vantel
