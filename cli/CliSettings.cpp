#include "cli/CliSettings.h"

#include "platform/SettingsFile.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace quillon {

namespace {

// A port name stored as something else than text (a number in the registry, a typed
// value in the file) is no port name: the default stays.
bool IsText(const QVariant& value) {
    const int type = value.typeId();
    return type == QMetaType::QString || type == QMetaType::QStringList ||
           type == QMetaType::QByteArray;
}

QString AsText(const QVariant& value) {
    // A comma in a hand-edited value makes QSettings read a list; it was one text.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

} // namespace

CliSettings LoadCliSettings() {
    CliSettings result;
    if (!SettingsFileUsable()) {
        return result;
    }
    const QSettings settings(QStringLiteral("Veldra"), QStringLiteral("Quillon"));
    if (const QVariant port = settings.value(QStringLiteral("Port")); IsText(port)) {
        result.port = AsText(port).toStdString();
    }
    bool isNumber = false;
    const qlonglong slow =
        AsText(settings.value(QStringLiteral("Slow"))).trimmed().toLongLong(&isNumber);
    result.slow = isNumber && slow != 0;
    return result;
}

} // namespace quillon
