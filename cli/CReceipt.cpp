#include "cli/CReceipt.h"

#include "cli/CliExitStatus.h"
#include "package/VersionDescriptor.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QString>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace quillon {

namespace {

// Device and package texts are Latin-1 byte strings.
QJsonValue Text(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QJsonValue TextOrNull(const std::string& text) {
    return text.empty() ? QJsonValue(QJsonValue::Null) : Text(text);
}

QJsonValue VersionJson(const std::optional<CReceipt::Version>& version) {
    if (!version) {
        return QJsonValue::Null;
    }
    QJsonObject object;
    object["text"] = Text(version->text);
    object["product"] = Text(version->product);
    object["build"] = Text(version->build);
    return object;
}

} // namespace

CReceipt::Version CReceipt::FromDescriptor(const VersionDescriptor& descriptor) {
    return Version{descriptor.text, descriptor.product, descriptor.buildStamp};
}

const char* CReceipt::ResultName(int exitStatus, bool lineLost) {
    switch (exitStatus) {
    case kExitSuccess:
        return "success";
    case kExitPortNotOpened:
        return "port-error";
    case kExitNoDevice:
        return "no-device";
    case kExitRefused:
        return "refused";
    case kExitAborted:
        return "aborted";
    case kExitInvalidPackage:
        return "invalid-package";
    case kExitPortLost:
        return "hung-up";
    default:
        return lineLost ? "hung-up" : "failed";
    }
}

std::string CReceipt::IsoTime(TimePoint time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss clock{ms - day};
    char text[96];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

QJsonObject CReceipt::ToJson() const {
    QJsonObject device;
    device["bootloader"] = VersionJson(bootloader);
    device["firmware"] = VersionJson(firmware);
    device["board_type_id"] = TextOrNull(boardTypeId);
    QJsonObject packageFirmware;
    packageFirmware["firmware"] = VersionJson(package);

    QJsonObject object;
    object["port"] = Text(port);
    object["by_id"] = TextOrNull(byId);
    object["usb_serial"] = TextOrNull(usbSerial);
    object["started_at"] = QString::fromStdString(IsoTime(startedAt));
    object["ended_at"] = QString::fromStdString(IsoTime(endedAt));
    object["host"] = TextOrNull(host);
    object["device"] = device;
    object["package"] = packageFirmware;
    if (decisionOutcome.empty()) {
        object["decision"] = QJsonValue::Null;
    } else {
        QJsonObject decision;
        decision["outcome"] = QString::fromStdString(decisionOutcome);
        decision["text"] = Text(decisionText);
        object["decision"] = decision;
    }
    object["result"] = QString::fromStdString(result);
    object["failed_phase"] = TextOrNull(failedPhase);
    object["exit_status"] = exitStatus;
    object["records_sent"] = static_cast<qint64>(recordsSent);
    object["bytes_sent"] = static_cast<qint64>(bytesSent);
    object["retries"] = static_cast<qint64>(retries);
    object["seconds"] = std::round(seconds * 1000) / 1000;
    object["log_path"] = TextOrNull(logPath);
    return object;
}

std::string CReceipt::ToLine() const {
    const QByteArray json = QJsonDocument(ToJson()).toJson(QJsonDocument::Compact);
    return std::string(json.constData(), static_cast<std::size_t>(json.size())) + "\n";
}

} // namespace quillon
