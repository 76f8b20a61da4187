// SPDX-License-Identifier: MIT
// The COM backend against an analyser stand-in in this process: VARIANTs both ways, IDispatch
// reads and writes and their failures, references. A plain program (Debian has no GoogleTest for
// mingw-w64), run under wine by the test suite. Listing members and creating the application by
// its identifier are shown against our analyser's server (com_server_test).
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/com_dispatch.h"
#include "automation/com_variant.h"
#include "automation/conversions.h"
#include "plain_check.h"

namespace vantel {
namespace {

using namespace plain_check;

// A VARIANT of `type` holding `value`: every member of its union starts at the same address.
template <typename T>
Variant of(VARTYPE type, T value) {
    Variant v;
    V_VT(v.get()) = type;
    std::memcpy(&V_I8(v.get()), &value, sizeof value);
    return v;
}

ObjectRef wrap(IDispatch* d) {
    return std::make_shared<DispatchObject>(d, nullptr);
}

// An analyser object: typed properties in a table (a write is coerced to the property's type),
// counting references and keeping the last call's flags and argument type.
class FakeObject final : public IDispatch {
public:
    LONG references = 1;  // the test's own
    WORD last_flags = 0;
    VARTYPE last_argument = VT_EMPTY;
    HRESULT fail_with = S_OK;  // DISP_E_EXCEPTION raises "Input overload"

    void add(const wchar_t* name, Variant value, bool writable = true) {
        names_[name] = static_cast<DISPID>(properties_.size());
        properties_.push_back({std::move(value), writable});
    }
    const VARIANT& operator[](const wchar_t* name) { return *properties_[names_[name]].value; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;  // no type information: a listing is refused
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                            DISPID* ids) override {
        auto found = names_.find(names[0]);
        *ids = found == names_.end() ? DISPID_UNKNOWN : found->second;
        return found == names_.end() ? DISP_E_UNKNOWNNAME : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* error, UINT*) override {
        last_flags = flags;
        if (fail_with == DISP_E_EXCEPTION) {
            error->bstrSource = SysAllocString(L"Vantel.Test");
            error->bstrDescription = SysAllocString(L"Input overload");
            error->scode = E_FAIL;
        }
        if (fail_with != S_OK)
            return fail_with;
        Property& p = properties_.at(static_cast<std::size_t>(id));
        if ((flags & DISPATCH_PROPERTYGET) && params->cArgs == 0)
            return VariantCopy(result, p.value.get());
        if (!(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) || params->cArgs != 1 ||
            params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTFOUND;
        last_argument = V_VT(&params->rgvarg[0]);
        if (!p.writable)
            return DISP_E_MEMBERNOTFOUND;
        Variant stored;
        if (FAILED(VariantChangeType(stored.get(), &params->rgvarg[0], 0, V_VT(p.value.get()))))
            return DISP_E_TYPEMISMATCH;
        p.value = std::move(stored);
        return S_OK;
    }

private:
    struct Property {
        Variant value;
        bool writable;
    };
    std::map<std::wstring, DISPID> names_;
    std::vector<Property> properties_;
};

void reading_every_kind_of_variant() {
    DECIMAL two_and_a_half{};
    VarDecFromR8(2.5, &two_and_a_half);
    Variant decimal;
    V_DECIMAL(decimal.get()) = two_and_a_half;  // fills the whole VARIANT, its type included
    V_VT(decimal.get()) = VT_DECIMAL;
    SHORT i2 = 20;
    VARIANT_BOOL yes = VARIANT_TRUE;
    Variant bool_ref = of(VT_BYREF | VT_BOOL, &yes);
    Bstr amplitude = bstr_from_utf8("Amplitude", "m");
    BSTR amplitude_raw = amplitude.get();
    const struct {
        Variant v;
        Value expected;
    } rows[] = {
        {of(VT_EMPTY, 0), Value()},
        {of(VT_NULL, 0), Value::null()},
        {of(VT_BOOL, VARIANT_TRUE), Value(AutoBool::True)},
        {of(VT_BOOL, VARIANT_BOOL{1}), Value(static_cast<AutoBool>(1))},  // bits kept
        {of(VT_I1, CHAR{-128}), Value(-128)},
        {of(VT_UI1, BYTE{255}), Value(255)},
        {of(VT_I2, SHORT{-32768}), Value(-32768)},
        {of(VT_UI2, USHORT{65535}), Value(65535)},
        {of(VT_I4, LONG{-2147483647 - 1}), Value(std::int64_t{-2147483647 - 1})},
        {of(VT_UI4, ULONG{4294967295}), Value(std::int64_t{4294967295})},
        {of(VT_I8, INT64_MIN), Value(INT64_MIN)},
        {of(VT_UI8, ULONGLONG{INT64_MAX}), Value(INT64_MAX)},
        {of(VT_R4, 0.1f), Value(double{0.1f})},  // widened exactly, not via text ("0.1")
        {of(VT_R8, -1e-300), Value(-1e-300)},
        {of(VT_CY, LONGLONG{12345678}), Value(1234.5678)},  // currency: 4 implied decimals
        {std::move(decimal), Value(2.5)},
        {of(VT_BSTR, SysAllocString(L"\u00B5V \u03A9")), Value("\xC2\xB5V \xCE\xA9")},
        {of(VT_BSTR, SysAllocStringLen(L"a\0b", 3)), Value(std::string("a\0b", 3))},
        {of(VT_BSTR, BSTR{}), Value("")},
        {of(VT_BYREF | VT_I2, &i2), Value(20)},
        {of(VT_BYREF | VT_BSTR, &amplitude_raw), Value("Amplitude")},
        {of(VT_BYREF | VT_VARIANT, bool_ref.get()), Value(AutoBool::True)},
    };
    for (const auto& row : rows)
        check(from_variant(*row.v, "m", wrap) == row.expected,
              variant_type_name(V_VT(&*row.v)) + " as " + row.expected.describe());
    // The start-up wait sees a sloppy 1 as "not yet", as the raw bits say.
    check(!initialisation_done(from_variant(*rows[3].v, "m", wrap)), "bool 1 is not done");
}

void refusing_what_the_panel_cannot_use() {
    const struct {
        Variant v;
        const char* words;
    } rows[] = {
        {of(VT_BYREF | VT_I4, nullptr), "VT_BYREF VT_I4 to nothing"},
        {of(VT_DATE, 1.0), "VT_DATE"},
        {of(VT_ERROR, DISP_E_PARAMNOTFOUND), "0x80020004"},
        {of(VT_ARRAY | VT_VARIANT, SafeArrayCreateVector(VT_VARIANT, 0, 2)), "VT_ARRAY VT_VARIANT"},
        {of(VT_UI8, UINT64_MAX), "beyond 63 bits"},
    };
    for (const auto& row : rows)
        check_refused([&] { from_variant(*row.v, "CTD_ChA", wrap); }, "CTD_ChA", row.words);
    check_refused([] { to_variant(Value("\xFF"), "CTD_Function"); }, "CTD_Function", "UTF-8");
    check_refused([] { obtain_com_application("Vantel.ComTest.Missing"); },
                  "Vantel.ComTest.Missing", "no program of this name is registered");
}

// A VT_DISPATCH that owns a reference on `object`, as one from the analyser does.
Variant holding(IDispatch* object) {
    object->AddRef();
    return of(VT_DISPATCH, object);
}

void writing_values() {
    const struct {
        Value value;
        VARTYPE sent;
    } rows[] = {
        {Value(), VT_EMPTY},
        {Value::null(), VT_NULL},
        {Value(AutoBool::True), VT_BOOL},
        {Value(-5), VT_I4},  // a code goes as VT_I4, a 32-bit signed integer
        {Value(std::int64_t{1} << 40), VT_I8},
        {Value(-0.25), VT_R8},
        {Value("THD+N - relative"), VT_BSTR},
        {Value(""), VT_BSTR},
    };
    for (const auto& row : rows) {
        const Variant sent = to_variant(row.value, "m");
        check(V_VT(&*sent) == row.sent && from_variant(*sent, "m", wrap) == row.value,
              row.value.describe() + " sent as " + variant_type_name(V_VT(&*sent)));
    }
    check(V_BOOL(&*to_variant(Value(AutoBool::True), "m")) == VARIANT_TRUE, "VARIANT_TRUE");
    check(SysStringLen(V_BSTR(&*to_variant(Value("\xC2\xB5V"), "m"))) == 2, "UTF-16 length");
}

void objects_and_their_references() {
    FakeObject detector;
    detector.add(L"CTD_Unit", of(VT_I2, SHORT{30}));
    {
        Value object = from_variant(*holding(&detector), "CTDetector", wrap);
        check(detector.references == 2, "the panel's object holds a reference of its own");
        check(object.as_object()->get("CTD_Unit") == Value(30), "read through the object");
        Variant back = to_variant(object, "m");
        check(V_VT(&*back) == VT_DISPATCH && V_DISPATCH(&*back) == &detector &&
                  detector.references == 3,
              "an object goes back as the same IDispatch");
    }
    check(detector.references == 1,
          "every reference given back, not " + std::to_string(detector.references));
    const Value nothing = from_variant(*of(VT_DISPATCH, nullptr), "m", wrap);
    check(nothing.kind() == Value::Kind::Object && !nothing.as_object(), "Nothing");
    struct Foreign final : AutomationObject {
        Value get(std::string_view) override { return {}; }
        void set(std::string_view, const Value&) override {}
    };
    check_refused([] { to_variant(Value(ObjectRef(std::make_shared<Foreign>())), "Options"); },
                  "Options", "another backend");
}

void reading_and_writing_members() {
    FakeObject detector, app;  // app's property holds detector, so app goes first
    app.add(L"CTDetector", holding(&detector), false);
    detector.add(L"CTD_Unit", of(VT_I2, SHORT{30}));
    detector.add(L"CTD_Function", of(VT_BSTR, SysAllocString(L"Amplitude")));
    detector.add(L"CTD_ChA", of(VT_R8, 0.25), false);
    {
        DispatchObject analyser(&app, nullptr);
        check(get_member(analyser, "CTDetector", "CTD_ChA") == Value(0.25), "a reading");
        check(detector.last_flags & DISPATCH_PROPERTYGET, "read as a property");
        set_member(analyser, "CTDetector", "CTD_Unit", Value(20));
        check(detector.last_flags == DISPATCH_PROPERTYPUT && detector.last_argument == VT_I4 &&
                  V_I2(&detector[L"CTD_Unit"]) == 20,
              "a code written as a property put of a Long");
        set_member(analyser, "CTDetector", "CTD_Function", Value("Noise (A-weighted)"));
        check(from_variant(detector[L"CTD_Function"], "m", wrap) == Value("Noise (A-weighted)"),
              "a function name written");
        check_refused([&] { analyser.get("Nonsense"); }, "Nonsense", "no member of this name");
        check_refused([&] { analyser.members(); }, "", "does not describe");
        check_refused([&] { set_member(analyser, "CTDetector", "CTD_ChA", Value(1.0)); },
                      "CTDetector.CTD_ChA", "not let this member be written");
        check_refused([&] { set_member(analyser, "CTDetector", "CTD_Unit", Value("volts")); },
                      "CTDetector.CTD_Unit", "refused \"volts\"");
        detector.fail_with = DISP_E_EXCEPTION;
        check_refused([&] { get_member(analyser, "CTDetector", "CTD_ChA"); }, "CTDetector.CTD_ChA",
                      "raised \"Input overload\" (Vantel.Test, ");
        app.fail_with = RPC_E_DISCONNECTED;
        check_refused([&] { analyser.get("CTDetector"); }, "CTDetector", "no longer running");
    }
    check(app.references == 1 && detector.references == 2,  // the second is app's property
          "references given back after the calls and the failures");
}

}  // namespace
}  // namespace vantel

int main() {
    using namespace vantel;
    return plain_check::run_groups({reading_every_kind_of_variant,
                                    refusing_what_the_panel_cannot_use, writing_values,
                                    objects_and_their_references, reading_and_writing_members});
}
