// SPDX-License-Identifier: MIT
#include "automation/dbus_wire.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QStringList>

#include <cstdint>
#include <limits>

namespace vantel::dbus {

namespace {

template <typename Int>
std::optional<QVariant> as_if_fits(std::int64_t i) {
    if (i < static_cast<std::int64_t>(std::numeric_limits<Int>::min()) ||
        (i > 0 && static_cast<std::uint64_t>(i) > std::numeric_limits<Int>::max()))
        return std::nullopt;
    return QVariant::fromValue(static_cast<Int>(i));
}

std::optional<QVariant> integer_as(char type, std::int64_t i) {
    switch (type) {
        case 'y':
            return as_if_fits<uchar>(i);
        case 'n':
            return as_if_fits<short>(i);
        case 'q':
            return as_if_fits<ushort>(i);
        case 'i':
            return as_if_fits<int>(i);
        case 'u':
            return as_if_fits<uint>(i);
        case 'x':
            return QVariant::fromValue(static_cast<qlonglong>(i));
        case 't':
            return as_if_fits<qulonglong>(i);
        default:
            return std::nullopt;
    }
}

}  // namespace

QString object_path_for(std::string_view service) {
    return u'/' + QString::fromUtf8(service.data(), static_cast<qsizetype>(service.size()))
                      .replace(u'.', u'/');
}

QString interface_for_path(const QString& path) {
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return {};
    return parts.first() + u'.' + parts.last();
}

std::optional<Value> value_from_dbus(const QVariant& v) {
    switch (v.metaType().id()) {
        case QMetaType::Bool:
            return Value::boolean(v.toBool());
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
            return Value(static_cast<std::int64_t>(v.toLongLong()));
        case QMetaType::ULongLong: {
            const qulonglong u = v.toULongLong();
            if (u > static_cast<qulonglong>(std::numeric_limits<std::int64_t>::max()))
                return std::nullopt;
            return Value(static_cast<std::int64_t>(u));
        }
        case QMetaType::Double:
            return Value(v.toDouble());
        case QMetaType::QString:
            return Value(v.toString().toStdString());
        default:
            break;
    }
    // A property declared as a variant arrives wrapped once more.
    if (v.metaType() == QMetaType::fromType<QDBusVariant>())
        return value_from_dbus(v.value<QDBusVariant>().variant());
    return std::nullopt;
}

std::optional<QVariant> dbus_from_value(const Value& v, char integer_type) {
    switch (v.kind()) {
        case Value::Kind::Boolean:
            return QVariant(v.as_bool() != AutoBool::False);
        case Value::Kind::Integer: {
            const std::int64_t i = v.as_integer();
            if (auto wanted = integer_as(integer_type, i))
                return wanted;
            if (auto narrow = integer_as('n', i))
                return narrow;
            if (auto middle = integer_as('i', i))
                return middle;
            return integer_as('x', i);
        }
        case Value::Kind::Double:
            return QVariant(v.as_double());
        case Value::Kind::Text:
            return QVariant(QString::fromStdString(v.as_text()));
        case Value::Kind::Empty:
        case Value::Kind::Null:
        case Value::Kind::Object:
            break;
    }
    return std::nullopt;
}

QString dbus_signature_of(const QVariant& v) {
    if (v.metaType() == QMetaType::fromType<QDBusArgument>())
        return v.value<QDBusArgument>().currentSignature();
    if (!v.metaType().isValid())
        return QStringLiteral("?");
    const char* signature = QDBusMetaType::typeToSignature(v.metaType());
    return signature ? QString::fromLatin1(signature) : QStringLiteral("?");
}

}  // namespace vantel::dbus
