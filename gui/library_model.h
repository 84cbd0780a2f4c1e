// The library tree: the library, its categories and their discs and folders,
// read from the catalog as the view asks for rows (a category's children
// are listed the first time it is opened). Names are edited in place; discs
// and folders are dragged onto categories to move them.
#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QVector>
#include <functional>

#include "app/app.h"

namespace tamber::gui {

class LibraryModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit LibraryModel(app::App& app, QObject* parent = nullptr);

  // Reads the catalog afresh (after a library was opened or changed).
  void reload();
  // The catalog element of a row: the root "a", a category "b" or an item "e".
  xmlNode* node(const QModelIndex& index) const;
  QModelIndex indexOf(xmlNode* node) const;
  // While a job writes to the library, the tree is browsed but not edited:
  // no rename in place, no drag and drop.
  void setLocked(bool locked) { locked_ = locked; }
  bool writable() const;
  // How a rename in place and a drop are made: the window records them for
  // undo. Without them the model edits the catalog itself.
  std::function<bool(xmlNode* node, const QString& name)> renamer;
  std::function<bool(xmlNode* node, xmlNode* targetCategory)> mover;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  Qt::DropActions supportedDropActions() const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

 signals:
  // The catalog was changed by an edit in the tree.
  void changed();
  // A move or an edit failed: the message says why.
  void failed(const QString& message);
  // A disc or folder was moved; `moved` is its element now.
  void itemMoved(xmlNode* moved);

 private:
  const QVector<xmlNode*>& childrenOf(xmlNode* parent) const;
  int rowOf(xmlNode* node) const;

  app::App& app_;
  bool locked_ = false;
  mutable QHash<xmlNode*, QVector<xmlNode*>> children_;
};

}  // namespace tamber::gui
