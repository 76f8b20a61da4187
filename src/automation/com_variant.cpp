// SPDX-License-Identifier: MIT
#include "automation/com_variant.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>

#include "automation/com_dispatch.h"

namespace vantel {

namespace {

[[noreturn]] void refuse(std::string_view member, std::string reason) {
    throw AutomationError(std::string(member), std::move(reason));
}

int checked_length(std::size_t size, std::string_view member) {
    if (size > static_cast<std::size_t>(INT_MAX))
        refuse(member, "the text is too long");
    return static_cast<int>(size);
}

Value integer(std::int64_t i) {
    return Value(i);
}

Value unsigned_integer(std::uint64_t u, std::string_view member) {
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        refuse(member, "the analyser answered " + std::to_string(u) + ", beyond 63 bits");
    return Value(static_cast<std::int64_t>(u));
}

Value text(BSTR s, std::string_view member) {
    // A null BSTR is the empty text by COM's own rule; the length, not a terminator, bounds it.
    if (s == nullptr)
        return Value(std::string());
    return Value(utf8_from_utf16(std::wstring_view(s, SysStringLen(s)), member));
}

Value object(IUnknown* unknown, std::string_view member, const DispatchWrapper& wrap) {
    if (unknown == nullptr)
        return Value(ObjectRef());
    IDispatch* dispatch = nullptr;
    const HRESULT hr = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr) || dispatch == nullptr)
        refuse(member,
               "the analyser answered an object without automation (" + hresult_text(hr) + ")");
    std::unique_ptr<IDispatch, ComRelease> held(dispatch);
    return Value(wrap(dispatch));
}

double from_currency(CY cy) {
    double d = 0.0;
    VarR8FromCy(cy, &d);  // cannot fail: every currency amount is a double
    return d;
}

double from_decimal(DECIMAL dec, std::string_view member) {
    double d = 0.0;
    const HRESULT hr = VarR8FromDec(&dec, &d);  // a copy: mingw declares the pointer non-const
    if (FAILED(hr))
        refuse(member, "the analyser's decimal does not fit a double (" + hresult_text(hr) + ")");
    return d;
}

}  // namespace

std::string utf8_from_utf16(std::wstring_view text, std::string_view member) {
    if (text.empty())
        return {};
    const int length = checked_length(text.size(), member);
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length,
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        refuse(member, "the analyser's text is not valid UTF-16");
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring utf16_from_utf8(std::string_view text, std::string_view member) {
    if (text.empty())
        return {};
    const int length = checked_length(text.size(), member);
    const int size =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (size <= 0)
        refuse(member, "the text is not valid UTF-8");
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, out.data(), size);
    return out;
}

Bstr bstr_from_utf8(std::string_view text, std::string_view member) {
    const std::wstring wide = utf16_from_utf8(text, member);
    BSTR s = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (s == nullptr)
        throw std::bad_alloc();
    return Bstr(s);
}

Value from_variant(const VARIANT& v, std::string_view member, const DispatchWrapper& wrap) {
    const VARTYPE type = V_VT(&v);
    const bool by_ref = (type & VT_BYREF) != 0;
    if (by_ref && V_BYREF(&v) == nullptr)
        refuse(member, "the analyser answered " + variant_type_name(type) + " to nothing");
    // Each case reads either the value or what the reference points to, never both.
    switch (type & ~VT_BYREF) {
        case VT_EMPTY:
            if (by_ref)
                break;
            return Value();
        case VT_NULL:
            if (by_ref)
                break;
            return Value::null();
        case VT_VARIANT:
            if (!by_ref)
                break;
            return from_variant(*V_VARIANTREF(&v), member, wrap);
        case VT_BOOL:
            return Value(static_cast<AutoBool>(by_ref ? *V_BOOLREF(&v) : V_BOOL(&v)));
        case VT_I1:
            return integer(by_ref ? *V_I1REF(&v) : V_I1(&v));
        case VT_I2:
            return integer(by_ref ? *V_I2REF(&v) : V_I2(&v));
        case VT_I4:
            return integer(by_ref ? *V_I4REF(&v) : V_I4(&v));
        case VT_INT:
            return integer(by_ref ? *V_INTREF(&v) : V_INT(&v));
        case VT_I8:
            return integer(by_ref ? *V_I8REF(&v) : V_I8(&v));
        case VT_UI1:
            return integer(by_ref ? *V_UI1REF(&v) : V_UI1(&v));
        case VT_UI2:
            return integer(by_ref ? *V_UI2REF(&v) : V_UI2(&v));
        case VT_UI4:
            return integer(by_ref ? *V_UI4REF(&v) : V_UI4(&v));
        case VT_UINT:
            return integer(by_ref ? *V_UINTREF(&v) : V_UINT(&v));
        case VT_UI8:
            return unsigned_integer(by_ref ? *V_UI8REF(&v) : V_UI8(&v), member);
        case VT_R4:
            return Value(static_cast<double>(by_ref ? *V_R4REF(&v) : V_R4(&v)));
        case VT_R8:
            return Value(by_ref ? *V_R8REF(&v) : V_R8(&v));
        case VT_CY:
            return Value(from_currency(by_ref ? *V_CYREF(&v) : V_CY(&v)));
        case VT_DECIMAL:
            return Value(from_decimal(by_ref ? *V_DECIMALREF(&v) : V_DECIMAL(&v), member));
        case VT_BSTR:
            return text(by_ref ? *V_BSTRREF(&v) : V_BSTR(&v), member);
        case VT_DISPATCH:
            return object(by_ref ? *V_DISPATCHREF(&v) : V_DISPATCH(&v), member, wrap);
        case VT_UNKNOWN:
            return object(by_ref ? *V_UNKNOWNREF(&v) : V_UNKNOWN(&v), member, wrap);
        case VT_ERROR: {
            const SCODE code = by_ref ? *V_ERRORREF(&v) : V_ERROR(&v);
            refuse(member, "the analyser answered an error value, " + hresult_text(code));
        }
        default:
            break;
    }
    refuse(member,
           "the analyser answered a " + variant_type_name(type) + ", which the panel cannot use");
}

Variant to_variant(const Value& v, std::string_view member) {
    Variant out;
    VARIANT* p = out.get();
    switch (v.kind()) {
        case Value::Kind::Empty:
            break;  // VariantInit made it VT_EMPTY
        case Value::Kind::Null:
            V_VT(p) = VT_NULL;
            break;
        case Value::Kind::Boolean:
            V_VT(p) = VT_BOOL;
            V_BOOL(p) = static_cast<VARIANT_BOOL>(v.as_bool());
            break;
        case Value::Kind::Integer: {
            const std::int64_t i = v.as_integer();
            if (i >= std::numeric_limits<LONG>::min() && i <= std::numeric_limits<LONG>::max()) {
                V_VT(p) = VT_I4;  // VT_I4: the integer every automation server takes
                V_I4(p) = static_cast<LONG>(i);
            } else {
                V_VT(p) = VT_I8;
                V_I8(p) = i;
            }
            break;
        }
        case Value::Kind::Double:
            V_VT(p) = VT_R8;
            V_R8(p) = v.as_double();
            break;
        case Value::Kind::Text:
            // Built in full before the VARIANT owns it, so a failure leaves nothing to free.
            V_BSTR(p) = bstr_from_utf8(v.as_text(), member).release();
            V_VT(p) = VT_BSTR;
            break;
        case Value::Kind::Object: {
            const ObjectRef& o = v.as_object();
            IDispatch* dispatch = nullptr;
            if (o) {
                const auto* ours = dynamic_cast<const DispatchObject*>(o.get());
                if (ours == nullptr)
                    refuse(member, "an object from another backend cannot go to the analyser");
                dispatch = ours->dispatch();
                dispatch->AddRef();  // the VARIANT owns a reference; VariantClear gives it back
            }
            V_VT(p) = VT_DISPATCH;
            V_DISPATCH(p) = dispatch;
            break;
        }
    }
    return out;
}

std::string variant_type_name(VARTYPE type) {
    static constexpr struct {
        VARTYPE type;
        const char* name;
    } kNames[] = {
        {VT_EMPTY, "VT_EMPTY"},     {VT_NULL, "VT_NULL"},
        {VT_I2, "VT_I2"},           {VT_I4, "VT_I4"},
        {VT_R4, "VT_R4"},           {VT_R8, "VT_R8"},
        {VT_CY, "VT_CY"},           {VT_DATE, "VT_DATE"},
        {VT_BSTR, "VT_BSTR"},       {VT_DISPATCH, "VT_DISPATCH"},
        {VT_ERROR, "VT_ERROR"},     {VT_BOOL, "VT_BOOL"},
        {VT_VARIANT, "VT_VARIANT"}, {VT_UNKNOWN, "VT_UNKNOWN"},
        {VT_DECIMAL, "VT_DECIMAL"}, {VT_I1, "VT_I1"},
        {VT_UI1, "VT_UI1"},         {VT_UI2, "VT_UI2"},
        {VT_UI4, "VT_UI4"},         {VT_I8, "VT_I8"},
        {VT_UI8, "VT_UI8"},         {VT_INT, "VT_INT"},
        {VT_UINT, "VT_UINT"},       {VT_RECORD, "VT_RECORD"},
    };
    std::string name;
    if (type & VT_BYREF)
        name += "VT_BYREF ";
    if (type & VT_ARRAY)
        name += "VT_ARRAY ";
    if (type & VT_VECTOR)
        name += "VT_VECTOR ";
    const auto base = static_cast<VARTYPE>(type & VT_TYPEMASK);
    for (const auto& n : kNames) {
        if (n.type == base)
            return name + n.name;
    }
    return name + "VARIANT type " + std::to_string(base);
}

std::string hresult_text(HRESULT result) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string message;
    if (length > 0 && buffer != nullptr) {
        try {
            message = utf8_from_utf16(std::wstring_view(buffer, length), {});
        } catch (const AutomationError&) {
            // The system's own text is unreadable; the code alone still says what happened.
        }
    }
    LocalFree(buffer);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? std::string("error ") + code : message + " (" + code + ")";
}

}  // namespace vantel
