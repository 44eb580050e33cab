#include "cli/CJsonEvents.h"

#include "cli/CReceipt.h"

#include <QJsonDocument>
#include <QString>

namespace quillon {

void CJsonEvents::Emit(const std::string& event, const std::string& port, QJsonObject fields) {
    fields["event"] = QString::fromStdString(event);
    fields["port"] = QString::fromLatin1(port.data(), static_cast<qsizetype>(port.size()));
    fields["time"] = QString::fromStdString(CReceipt::IsoTime(std::chrono::system_clock::now()));
    const QByteArray json = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    std::lock_guard lock(mutex_);
    out_.write(json.constData(), json.size());
    out_ << '\n' << std::flush;
}

} // namespace quillon
