// One running program per user and settings file: a second start hands its
// library argument to the first, which comes to the front, and ends.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace tamber::gui {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // `key` tells instances apart (the settings file); the server name is made
  // from it and the user id.
  explicit SingleInstance(const QString& key, QObject* parent = nullptr);
  // Whether this is the first instance. When it is not, `message` (the
  // library argument, possibly empty) has been handed to the first.
  bool claim(const QString& message);
  QString serverName() const { return name_; }

 signals:
  // A later start asked for the front, with its library argument.
  void activated(const QString& message);

 private:
  QString name_;
  QLocalServer server_;
};

}  // namespace tamber::gui
