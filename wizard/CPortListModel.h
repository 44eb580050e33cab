#pragma once

#include <QStandardItemModel>

namespace quillon {

// The items of the port page's list: each item's text is the plain port name, which the
// editable combo box puts into its edit field and completes against; the list shows the
// name together with what the port is (the description role), so the description never
// ends up in the saved "Port" setting.
//
// Threads: the UI thread only.
class CPortListModel : public QStandardItemModel {
public:
    static constexpr int kDescriptionRole = Qt::UserRole + 1;

    using QStandardItemModel::QStandardItemModel;

    // "/dev/ttyUSB0 — FT232R USB UART (FTDI), serial A1B2C3D4"; the name alone without one.
    static QString Label(const QString& name, const QString& description);

    QVariant data(const QModelIndex& index, int role) const override;
};

} // namespace quillon
