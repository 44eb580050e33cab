#include "wizard/CPortListModel.h"

namespace quillon {

QString CPortListModel::Label(const QString& name, const QString& description) {
    return description.isEmpty() ? name : name + QStringLiteral(" \u2014 ") + description;
}

QVariant CPortListModel::data(const QModelIndex& index, int role) const {
    // A standard item keeps one text for both roles; the edit role stays the bare name.
    // The full text as a tip too, for entries the drop-down has to shorten.
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return Label(QStandardItemModel::data(index, Qt::DisplayRole).toString(),
                     QStandardItemModel::data(index, kDescriptionRole).toString());
    }
    if (role == Qt::EditRole) {
        return QStandardItemModel::data(index, Qt::DisplayRole);
    }
    return QStandardItemModel::data(index, role);
}

} // namespace quillon
