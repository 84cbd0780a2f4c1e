#include "gui/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTimer>

namespace tamber::gui {

namespace {

// A folder only this user can enter: lstat'ed, so a link or another user's
// folder in its place is refused.
bool privateFolder(const QByteArray& path) {
  struct ::stat st {};
  if (::lstat(path.constData(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// The folder the instance socket lives in: $XDG_RUNTIME_DIR/tamber, else
// /tmp/tamber-UID, made 0700; empty when no such folder is ours to use.
QString socketFolder() {
  QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  QByteArray base;
  if (!runtime.isEmpty() && runtime.startsWith('/') && privateFolder(runtime)) {
    base = runtime + "/tamber";
  } else {
    base = "/tmp/tamber-" + QByteArray::number(::getuid());
  }
  ::mkdir(base.constData(), 0700);
  return privateFolder(base) ? QFile::decodeName(base) : QString();
}

// The user id of the process at the other end of a connected local socket.
bool peerIsThisUser(qintptr descriptor) {
  struct ucred cred {};
  socklen_t size = sizeof cred;
  if (descriptor < 0 || ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) {
    return false;
  }
  return cred.uid == ::getuid();
}

// A socket of this user at `path` (not a link, not another user's file).
bool ourSocket(const QString& path) {
  struct ::stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;
  return S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

}  // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent) : QObject(parent) {
  QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
  QString folder = socketFolder();
  if (!folder.isEmpty()) name_ = folder + "/instance-" + QString::fromLatin1(hash);
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_.nextPendingConnection()) {
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      // Only this user's programs are listened to.
      if (!peerIsThisUser(s->socketDescriptor())) {
        s->abort();
        continue;
      }
      connect(s, &QLocalSocket::readyRead, this, [this, s] {
        if (!s->canReadLine()) return;
        QString message = QString::fromUtf8(s->readLine()).chopped(1);
        s->disconnectFromServer();
        // Handed on after this handler: what it starts may open dialogs
        // (an error box), and the socket may be gone when they close.
        QTimer::singleShot(0, this, [this, message] { emit activated(message); });
      });
    }
  });
}

bool SingleInstance::claim(const QString& message) {
  // Without a folder of our own there is no safe meeting place: every
  // start runs a window of its own.
  if (name_.isEmpty()) return true;
  if (ourSocket(name_)) {
    QLocalSocket probe;
    probe.connectToServer(name_);
    if (probe.waitForConnected(500) && peerIsThisUser(probe.socketDescriptor())) {
      probe.write(message.toUtf8() + "\n");
      probe.waitForBytesWritten(1000);
      probe.waitForDisconnected(1000);
      return false;
    }
  }
  // Nobody answers: a socket left by a program that died is taken over.
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(name_)) {
    if (ourSocket(name_)) QLocalServer::removeServer(name_);
    server_.listen(name_);
  }
  return true;
}

}  // namespace tamber::gui
