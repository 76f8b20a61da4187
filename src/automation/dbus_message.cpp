// SPDX-License-Identifier: MIT
#include "automation/dbus_message.h"

#include <QDBusObjectPath>
#include <QDBusVariant>

#include <cstring>
#include <new>

#include "automation/dbus_wire.h"

namespace vantel::dbus {

Wire read_wire(DBusMessageIter* it) {
    const int type = dbus_message_iter_get_arg_type(it);
    if (type == DBUS_TYPE_INVALID)
        return {QVariant(), QStringLiteral("?")};
    QString signature;
    if (dbus_type_is_basic(type)) {
        signature = QChar::fromLatin1(static_cast<char>(type));
    } else {
        char* s = dbus_message_iter_get_signature(it);
        signature = QString::fromLatin1(s);
        dbus_free(s);
    }
    switch (type) {
        case DBUS_TYPE_BYTE:
            return {QVariant::fromValue(basic<uchar>(it)), signature};
        case DBUS_TYPE_INT16:
            return {QVariant::fromValue(static_cast<short>(basic<dbus_int16_t>(it))), signature};
        case DBUS_TYPE_UINT16:
            return {QVariant::fromValue(static_cast<ushort>(basic<dbus_uint16_t>(it))), signature};
        case DBUS_TYPE_INT32:
            return {QVariant::fromValue(static_cast<int>(basic<dbus_int32_t>(it))), signature};
        case DBUS_TYPE_UINT32:
            return {QVariant::fromValue(static_cast<uint>(basic<dbus_uint32_t>(it))), signature};
        case DBUS_TYPE_INT64:
            return {QVariant::fromValue(static_cast<qlonglong>(basic<dbus_int64_t>(it))),
                    signature};
        case DBUS_TYPE_UINT64:
            return {QVariant::fromValue(static_cast<qulonglong>(basic<dbus_uint64_t>(it))),
                    signature};
        case DBUS_TYPE_DOUBLE:
            return {QVariant(basic<double>(it)), signature};
        case DBUS_TYPE_BOOLEAN:
            return {QVariant(basic<dbus_bool_t>(it) != 0), signature};
        case DBUS_TYPE_STRING:
            return {QVariant(QString::fromUtf8(basic<const char*>(it))), signature};
        case DBUS_TYPE_OBJECT_PATH:
            return {QVariant::fromValue(QDBusObjectPath(QString::fromUtf8(basic<const char*>(it)))),
                    signature};
        case DBUS_TYPE_VARIANT: {
            // A property declared as a variant: wrapped once more, as value_from_dbus expects.
            DBusMessageIter inner;
            dbus_message_iter_recurse(it, &inner);
            return {QVariant::fromValue(QDBusVariant(read_wire(&inner).value)), signature};
        }
        default:
            return {QVariant(), signature};
    }
}

void check_memory(dbus_bool_t appended) {
    if (!appended)
        throw std::bad_alloc();
}

void append_string(DBusMessageIter* it, const QString& s) {
    const QByteArray utf8 = s.toUtf8();
    const char* p = utf8.constData();
    check_memory(dbus_message_iter_append_basic(it, DBUS_TYPE_STRING, &p));
}

void append_variant(DBusMessageIter* it, const QVariant& v) {
    const QString signature = dbus::dbus_signature_of(v);
    const QByteArray type = signature.toLatin1();
    DBusMessageIter inner;
    check_memory(dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, type.constData(), &inner));
    switch (v.metaType().id()) {
        case QMetaType::Bool:
            append_basic<dbus_bool_t>(&inner, DBUS_TYPE_BOOLEAN, v.toBool() ? 1 : 0);
            break;
        case QMetaType::UChar:
            append_basic<uchar>(&inner, DBUS_TYPE_BYTE, v.value<uchar>());
            break;
        case QMetaType::Short:
            append_basic<dbus_int16_t>(&inner, DBUS_TYPE_INT16, v.value<short>());
            break;
        case QMetaType::UShort:
            append_basic<dbus_uint16_t>(&inner, DBUS_TYPE_UINT16, v.value<ushort>());
            break;
        case QMetaType::Int:
            append_basic<dbus_int32_t>(&inner, DBUS_TYPE_INT32, v.toInt());
            break;
        case QMetaType::UInt:
            append_basic<dbus_uint32_t>(&inner, DBUS_TYPE_UINT32, v.toUInt());
            break;
        case QMetaType::LongLong:
            append_basic<dbus_int64_t>(&inner, DBUS_TYPE_INT64, v.toLongLong());
            break;
        case QMetaType::ULongLong:
            append_basic<dbus_uint64_t>(&inner, DBUS_TYPE_UINT64, v.toULongLong());
            break;
        case QMetaType::Double:
            append_basic<double>(&inner, DBUS_TYPE_DOUBLE, v.toDouble());
            break;
        case QMetaType::QString:
            append_string(&inner, v.toString());
            break;
        default:
            if (v.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
                const QByteArray path = v.value<QDBusObjectPath>().path().toUtf8();
                const char* p = path.constData();
                check_memory(dbus_message_iter_append_basic(&inner, DBUS_TYPE_OBJECT_PATH, &p));
            } else {
                append_string(&inner, v.toString());
            }
            break;
    }
    check_memory(dbus_message_iter_close_container(it, &inner));
}

namespace {

bool oversized(DBusMessageIter* it, std::size_t limit_bytes) {
    do {
        const int type = dbus_message_iter_get_arg_type(it);
        switch (type) {
            case DBUS_TYPE_STRING:
            case DBUS_TYPE_OBJECT_PATH:
            case DBUS_TYPE_SIGNATURE:
                if (::strnlen(basic<const char*>(it), limit_bytes + 1) > limit_bytes)
                    return true;
                break;
            case DBUS_TYPE_ARRAY:
                if (dbus_type_is_fixed(dbus_message_iter_get_element_type(it))) {
                    // Counting a fixed-size array is cheap; walking it would not be.
                    if (static_cast<std::size_t>(dbus_message_iter_get_element_count(it)) >
                        limit_bytes)
                        return true;
                    break;
                }
                [[fallthrough]];
            case DBUS_TYPE_VARIANT:
            case DBUS_TYPE_STRUCT:
            case DBUS_TYPE_DICT_ENTRY: {
                DBusMessageIter inner;
                dbus_message_iter_recurse(it, &inner);
                if (dbus_message_iter_get_arg_type(&inner) != DBUS_TYPE_INVALID &&
                    oversized(&inner, limit_bytes))
                    return true;
                break;
            }
            default:
                break;
        }
    } while (dbus_message_iter_next(it));
    return false;
}

}  // namespace

bool has_oversized_argument(DBusMessage* message, std::size_t limit_bytes) {
    DBusMessageIter it;
    return dbus_message_iter_init(message, &it) && oversized(&it, limit_bytes);
}

}  // namespace vantel::dbus
