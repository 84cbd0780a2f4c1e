#include "gui/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalSocket>

namespace tamber::gui {

SingleInstance::SingleInstance(const QString& key, QObject* parent) : QObject(parent) {
  QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
  name_ = QString("FirstTamberApp-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_.nextPendingConnection()) {
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      connect(s, &QLocalSocket::readyRead, this, [this, s] {
        if (!s->canReadLine()) return;
        emit activated(QString::fromUtf8(s->readLine()).chopped(1));
        s->disconnectFromServer();
      });
    }
  });
}

bool SingleInstance::claim(const QString& message) {
  {
    QLocalSocket probe;
    probe.connectToServer(name_);
    if (probe.waitForConnected(500)) {
      probe.write(message.toUtf8() + "\n");
      probe.waitForBytesWritten(1000);
      probe.waitForDisconnected(1000);
      return false;
    }
  }
  // Nobody answers: a server name left by a program that died is taken over.
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(name_)) {
    QLocalServer::removeServer(name_);
    server_.listen(name_);
  }
  return true;
}

}  // namespace tamber::gui
