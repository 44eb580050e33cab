#pragma once

#include <QString>
#include <functional>

class QMessageBox;
class QWidget;

namespace quillon {

// The application's name: the settings key and the caption of every message box.
inline constexpr const char* kAppName = "Quillon";

// Answers of a message box.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

enum class MessageBoxKind {
    kWarningOk,     // an OK button and the warning icon
    kQuestionYesNo, // Yes and No buttons and the question icon; No is the default
};

struct MessageBoxRequest {
    QWidget* parent = nullptr;
    QString caption;
    QString text;
    QString detail; // a second, smaller paragraph: the system's reason, a hint
    MessageBoxKind kind = MessageBoxKind::kWarningOk;
};

// Shows a modal message box captioned "Quillon" and returns kIdOk, kIdYes or kIdNo.
// A box closed without a choice answers kIdOk or kIdNo.
int ShowMessageBox(QWidget* parent, const QString& text, MessageBoxKind kind,
                   const QString& detail = {});

// Opens the same box without waiting for it: it blocks the user's work in the parent's
// window, not the caller, and deletes itself once answered. Returns the box, or null when
// the test hook took the request instead.
QMessageBox* OpenMessageBox(QWidget* parent, const QString& text, MessageBoxKind kind,
                            const QString& detail = {});

// Replaces the box with a function (tests answer boxes this way); an empty function
// restores the real box. Returns the previous hook.
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

} // namespace quillon
