#include "wizard/WizardSettings.h"

#include "platform/SettingsFile.h"
#include "wizard/MessageBox.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace quillon {

namespace {

constexpr const char* kOrganisation = "Veldra";

// A port name stored as something else than text (a number in the registry, a typed
// value in the file) is no port name: the default stays.
bool IsText(const QVariant& value) {
    const int type = value.typeId();
    return type == QMetaType::QString || type == QMetaType::QStringList ||
           type == QMetaType::QByteArray;
}

QString AsText(const QVariant& value) {
    // An unquoted comma in a hand-edited file makes the value a list; it was one text.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

} // namespace

WizardSettings LoadWizardSettings() {
    WizardSettings result;
    if (!SettingsFileUsable()) {
        return result;
    }
    const QSettings settings(QString::fromLatin1(kOrganisation), QString::fromLatin1(kAppName));

    const QVariant port = settings.value(QStringLiteral("Port"));
    if (IsText(port)) {
        result.port = AsText(port).toStdString();
    }

    const QVariant slow = settings.value(QStringLiteral("Slow"));
    bool isNumber = false;
    const qlonglong number = AsText(slow).trimmed().toLongLong(&isNumber);
    result.slow = isNumber && number != 0;
    return result;
}

bool SaveWizardSettings(const WizardSettings& values) {
    if (!SettingsFileUsable()) {
        return false;
    }
    const SettingsFileStamp before = CurrentSettingsFileStamp();
    QSettings settings(QString::fromLatin1(kOrganisation), QString::fromLatin1(kAppName));
    // Only ever replace the file as a whole.
    settings.setAtomicSyncRequired(true);
    settings.setValue(QStringLiteral("Port"), QString::fromStdString(values.port));
    settings.setValue(QStringLiteral("Slow"), values.slow ? 1 : 0);
    settings.sync();
    if (settings.status() == QSettings::FormatError) {
        // The old file could not be parsed. Sync reports that even when it has gone on to
        // replace the file with a sound one, and then hides a failed write behind it: only
        // a new file at the path tells that the save took place.
        return CurrentSettingsFileStamp() != before;
    }
    return settings.status() == QSettings::NoError;
}

} // namespace quillon
