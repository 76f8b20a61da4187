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
