#include "uFolds.h"

#include <QListWidget>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "xEngine.h"

namespace {

// Rows 16 pixels high, whoever fills the list.
class TRowDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), 16);
  }
};

}  // namespace

TFoldsFrame::TFoldsFrame(TEngine& engine, QWidget* parent) : QWidget(parent), Engine(engine) {
  setObjectName(QStringLiteral("FoldsFrame"));
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
  sFoldList = new QListWidget(this);
  sFoldList->setObjectName(QStringLiteral("sFoldList"));
  sFoldList->setItemDelegate(new TRowDelegate(sFoldList));
  sFoldList->setUniformItemSizes(true);
  sFoldList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sFoldList->setTextElideMode(Qt::ElideMiddle);  // a long path keeps its last folder in sight
  sFoldList->setToolTip(QStringLiteral(" List of folders that will be searched "));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(sFoldList);
  connect(sFoldList, &QListWidget::itemChanged, this, &TFoldsFrame::sFoldListClickCheck);
}

void TFoldsFrame::ShowFolders() {
  const QSignalBlocker quiet(sFoldList);
  sFoldList->clear();
  for (const TFolderEntry& folder : Engine.Folders) {
    auto* item = new QListWidgetItem(QString::fromStdString(folder.Path));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(folder.Enabled ? Qt::Checked : Qt::Unchecked);
    item->setToolTip(item->text());
    sFoldList->addItem(item);
  }
}

void TFoldsFrame::sFoldListClickCheck(QListWidgetItem* item) {
  // The toggled row itself (a key can toggle a row other than the one under the mouse). Other
  // changes of an item, and filling the list with the engine's marks, change nothing.
  const int i = item ? sFoldList->row(item) : -1;
  if (i < 0 || i >= static_cast<int>(Engine.Folders.size())) return;
  const bool enabled = item->checkState() == Qt::Checked;
  if (Engine.Folders[static_cast<std::size_t>(i)].Enabled != enabled) Engine.SetFolderEnabled(i, enabled);
}
