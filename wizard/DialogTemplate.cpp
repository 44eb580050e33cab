#include "wizard/DialogTemplate.h"

#include "wizard/WizardResources.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <utility>

namespace quillon {

namespace {

constexpr std::array<std::pair<const char*, ControlKind>, 10> kKinds{{
    {"static", ControlKind::kStatic},
    {"bitmap", ControlKind::kBitmap},
    {"edit", ControlKind::kEdit},
    {"button", ControlKind::kButton},
    {"radio", ControlKind::kRadio},
    {"checkbox", ControlKind::kCheckBox},
    {"groupbox", ControlKind::kGroupBox},
    {"combobox", ControlKind::kComboBox},
    {"progress", ControlKind::kProgress},
    {"frame", ControlKind::kFrame},
}};

constexpr std::array<std::pair<const char*, std::uint32_t>, 17> kFlags{{
    {"hidden", ControlFlag::kHidden},
    {"disabled", ControlFlag::kDisabled},
    {"multiline", ControlFlag::kMultiLine},
    {"readonly", ControlFlag::kReadOnly},
    {"vscroll", ControlFlag::kVScroll},
    {"border", ControlFlag::kBorder},
    {"tabstop", ControlFlag::kTabStop},
    {"default", ControlFlag::kDefault},
    {"sort", ControlFlag::kSort},
    {"group", ControlFlag::kGroup},
    {"centre", ControlFlag::kCentre},
    {"right", ControlFlag::kRight},
    {"editable", ControlFlag::kEditable},
    {"horizontal", ControlFlag::kHorizontal},
    {"heading", ControlFlag::kHeading},
    {"live", ControlFlag::kLive},
    {"focusable", ControlFlag::kFocusable},
}};

bool Fail(QString* error, const QString& why) {
    if (error != nullptr) {
        *error = why;
    }
    return false;
}

bool ReadInts(const QJsonValue& value, qsizetype count, std::array<int, 4>& out) {
    const QJsonArray array = value.toArray();
    if (!value.isArray() || array.size() != count) {
        return false;
    }
    for (qsizetype i = 0; i < count; ++i) {
        if (!array[i].isDouble()) {
            return false;
        }
        out[static_cast<std::size_t>(i)] = array[i].toInt();
    }
    return true;
}

bool ParseControl(const QJsonObject& object, ControlTemplate& control, QString* error) {
    control.id = object.value("id").toInt(kIdStatic);

    const QString kind = object.value("kind").toString();
    bool known = false;
    for (const auto& [name, value] : kKinds) {
        if (kind == QLatin1String(name)) {
            control.kind = value;
            known = true;
        }
    }
    if (!known) {
        return Fail(error, QStringLiteral("unknown control kind \"%1\"").arg(kind));
    }

    control.text = object.value("text").toString();
    control.accessibleName = object.value("name").toString();
    control.accessibleDescription = object.value("description").toString();
    control.captionFor = object.value("for").toInt(0);

    std::array<int, 4> rect{};
    if (!ReadInts(object.value("rect"), 4, rect) || rect[2] < 0 || rect[3] < 0) {
        return Fail(error, QStringLiteral("control %1 has no valid rect").arg(control.id));
    }
    control.rect = QRect(rect[0], rect[1], rect[2], rect[3]);

    for (const QJsonValue& flag : object.value("flags").toArray()) {
        bool found = false;
        for (const auto& [name, value] : kFlags) {
            if (flag.toString() == QLatin1String(name)) {
                control.flags |= value;
                found = true;
            }
        }
        if (!found) {
            return Fail(error, QStringLiteral("unknown flag \"%1\"").arg(flag.toString()));
        }
    }
    return true;
}

} // namespace

std::optional<DialogTemplate> ParseDialogTemplate(const QByteArray& json, QString* error) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull() || !document.isObject()) {
        Fail(error, parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject root = document.object();

    DialogTemplate result;
    result.id = root.value("id").toInt(0);
    result.caption = root.value("caption").toString();
    result.child = root.value("child").toBool(false);

    std::array<int, 4> size{};
    if (!ReadInts(root.value("size"), 2, size) || size[0] <= 0 || size[1] <= 0) {
        Fail(error, QStringLiteral("the template has no valid size"));
        return std::nullopt;
    }
    result.size = QSize(size[0], size[1]);

    if (root.contains("font")) {
        const QJsonArray font = root.value("font").toArray();
        if (font.size() != 2 || !font[0].isString() || !font[1].isDouble() ||
            font[1].toInt() <= 0) {
            Fail(error, QStringLiteral("the template's font is not [face, points]"));
            return std::nullopt;
        }
        result.fontFace = font[0].toString();
        result.fontPointSize = font[1].toInt();
    }

    for (const QJsonValue& value : root.value("controls").toArray()) {
        ControlTemplate control;
        if (!value.isObject() || !ParseControl(value.toObject(), control, error)) {
            return std::nullopt;
        }
        result.controls.push_back(std::move(control));
    }
    return result;
}

std::optional<DialogTemplate> LoadDialogTemplate(int id, QString* error) {
    EnsureWizardResources();
    QFile file(QStringLiteral(":/quillon/wizard/templates/%1.json").arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(error, QStringLiteral("no dialog template %1").arg(id));
        return std::nullopt;
    }
    return ParseDialogTemplate(file.readAll(), error);
}

} // namespace quillon
