// SPDX-License-Identifier: MIT
#pragma once

// Values in and out of libdbus messages as Qt holds them, for both ends of the analyser's bus
// link: the panel's backend (dbus_backend.cpp) and the analyser program's export
// (instrument/dbus_export.cpp). Both use libdbus directly, each on its own private connection.

#include <QString>
#include <QVariant>

#include <dbus/dbus.h>

#include <cstddef>

namespace vantel::dbus {

// A value as it came off the wire: a basic value or an object path as Qt holds it (nothing for a
// container), and its D-Bus signature, which also tells how an integer came.
struct Wire {
    QVariant value;
    QString signature;
};

template <typename T>
T basic(DBusMessageIter* it) {
    T v{};
    dbus_message_iter_get_basic(it, &v);
    return v;
}

Wire read_wire(DBusMessageIter* it);

// Whether any argument of `message` (inside variants, arrays and structures too) is a text of
// more than `limit_bytes` bytes or an array of more than `limit_bytes` elements. It looks at
// each text only up to the limit, so a huge one costs no more than a small one.
bool has_oversized_argument(DBusMessage* message, std::size_t limit_bytes);

// libdbus reports only that memory ran out; this turns that into std::bad_alloc.
void check_memory(dbus_bool_t appended);

void append_string(DBusMessageIter* it, const QString& s);

template <typename T>
void append_basic(DBusMessageIter* it, int type, T v) {
    check_memory(dbus_message_iter_append_basic(it, type, &v));
}

// `v`, one of the values dbus_from_value makes or an object path, as a variant.
void append_variant(DBusMessageIter* it, const QVariant& v);

}  // namespace vantel::dbus
