// tamber watch: volumes mounted while it runs are recognised (by UUID, or
// label and size) and their folder items re-scanned; a volume that no
// library knows is offered to the user through a desktop notification.
//
// Mounts are learnt from udisks2 on the system bus. Where udisks2 is not
// there (a server, a container), the mount table is watched instead.

#include <fcntl.h>
#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <iostream>
#include <map>
#include <set>

#include "app/app.h"
#include "app/language.h"
#include "app/volumes.h"
#include "catalog/library.h"
#include "commands.h"
#include "common.h"
#include "platform/loaded_library.h"
#include "platform/mounts.h"
#include "platform/volume_facts.h"

namespace tamber::cli {

namespace {

// GIO is loaded when a watch starts rather than at every start of the
// program: it and what it brings took longer to load than most commands
// take to run.
#define TAMBER_GIO_FUNCTIONS(F) \
  F(g_bus_get_sync) F(g_child_watch_add) F(g_clear_error) F(g_dbus_connection_call_sync) \
  F(g_dbus_connection_signal_subscribe) F(g_dbus_connection_signal_unsubscribe) F(g_main_loop_new) \
  F(g_main_loop_quit) F(g_main_loop_run) F(g_main_loop_unref) F(g_object_unref) F(g_spawn_async) \
  F(g_spawn_close_pid) F(g_unix_fd_add) F(g_unix_signal_add) F(g_variant_builder_add) \
  F(g_variant_builder_init) F(g_variant_get) F(g_variant_get_bytestring) F(g_variant_get_child_value) \
  F(g_variant_get_string) F(g_variant_get_variant) F(g_variant_is_of_type) F(g_variant_iter_init) \
  F(g_variant_iter_next) F(g_variant_iter_next_value) F(g_variant_lookup) F(g_variant_lookup_value) \
  F(g_variant_new) F(g_variant_new_string) F(g_variant_unref)

struct Gio {
#define TAMBER_GIO_MEMBER(name) decltype(&::name) name = nullptr;
  TAMBER_GIO_FUNCTIONS(TAMBER_GIO_MEMBER)
#undef TAMBER_GIO_MEMBER
};

struct LoadedGio {
  Gio api;
  std::string why;  // empty when loaded
};

const LoadedGio& loadedGio() {
  static const LoadedGio loaded = [] {
    LoadedGio l;
#define TAMBER_GIO_SLOT(name) TAMBER_FUNCTION_SLOT(l.api, name),
    platform::loadFunctions("libgio-2.0.so.0", "GIO", {TAMBER_GIO_FUNCTIONS(TAMBER_GIO_SLOT)}, l.why);
#undef TAMBER_GIO_SLOT
    return l;
  }();
  return loaded;
}

// The functions; the watch loads them before anything calls one.
const Gio& gio() { return loadedGio().api; }

// A GVariant type string as its type, as G_VARIANT_TYPE makes it without
// its checks.
const GVariantType* variantType(const char* text) { return reinterpret_cast<const GVariantType*>(text); }

constexpr const char* kUdisks = "org.freedesktop.UDisks2";
constexpr const char* kUdisksRoot = "/org/freedesktop/UDisks2";
constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";
constexpr const char* kFilesystem = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kNotifications = "org.freedesktop.Notifications";
constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";

// What udisks2 says of one block device.
struct Device {
  std::string uuid, label, fsType, node;
  bool ignore = false;  // udisks2's hint: not to be shown to the user
  std::set<std::string> mounts;
};

// The mount points of a Filesystem's "MountPoints" (aay, each ending in NUL).
std::set<std::string> mountPointsOf(GVariant* value) {
  std::set<std::string> out;
  if (!value || !gio().g_variant_is_of_type(value, variantType("aay"))) return out;
  GVariantIter it;
  gio().g_variant_iter_init(&it, value);
  while (GVariant* one = gio().g_variant_iter_next_value(&it)) {
    std::string p = gio().g_variant_get_bytestring(one);
    if (!p.empty()) out.insert(p);
    gio().g_variant_unref(one);
  }
  return out;
}

// A notification waiting for the user's answer.
struct Offer {
  std::string mount, label;
};

class Watcher {
 public:
  Watcher(App& app, const Globals& g, std::vector<std::string> libraries, std::string category, bool dryRun)
      : app_(app), g_(g), libraries_(std::move(libraries)), category_(std::move(category)), dryRun_(dryRun) {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    exe_ = n > 0 ? std::string(buf, size_t(n)) : "tamber";
  }

  ~Watcher() {
    for (const auto& s : subscriptions_) gio().g_dbus_connection_signal_unsubscribe(s.connection, s.id);
    if (system_) gio().g_object_unref(system_);
    if (session_) gio().g_object_unref(session_);
    if (mountFd_ >= 0) ::close(mountFd_);
    if (loop_) gio().g_main_loop_unref(loop_);
  }

  int run() {
    loop_ = gio().g_main_loop_new(nullptr, false);
    gio().g_unix_signal_add(SIGINT, &Watcher::stop, this);
    gio().g_unix_signal_add(SIGTERM, &Watcher::stop, this);
    if (!dryRun_) {
      // The notifications' answers; without a desktop, the offers are only said.
      session_ = gio().g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
      if (session_) {
        subscribe(session_, kNotifications, "ActionInvoked", kNotificationsPath, nullptr, &Watcher::onAction);
        subscribe(session_, kNotifications, "NotificationClosed", kNotificationsPath, nullptr, &Watcher::onClosed);
      }
    }
    if (startUdisks()) {
      say(app::kTextWatchingUdisks, {});
    } else if (startMountTable()) {
      say(app::kTextWatchingMountTable, {});
    } else {
      std::cerr << errorPrefix() << escapeForTerminal(cli::say(app::kTextWatchCannot)) << "\n";
      return kExitFailure;
    }
    gio().g_main_loop_run(loop_);
    if (child_ > 0) {
      // The job in hand stops as a cancelled job does: its library as it was.
      ::kill(child_, SIGTERM);
      int st = 0;
      ::waitpid(child_, &st, 0);
    }
    return kExitOk;
  }

 private:
  using Handler = void (Watcher::*)(const char* path, GVariant* parameters);
  struct Bound {
    Watcher* self;
    Handler handler;
  };
  struct Subscription {
    GDBusConnection* connection;
    guint id;
  };

  App& app_;
  const Globals& g_;
  std::vector<std::string> libraries_;
  std::string category_;  // where an added volume goes
  bool dryRun_;
  std::string exe_;
  GMainLoop* loop_ = nullptr;
  GDBusConnection* system_ = nullptr;
  GDBusConnection* session_ = nullptr;
  std::vector<Subscription> subscriptions_;
  std::map<std::string, Device> devices_;  // by udisks2 object path
  std::set<std::string> mountTable_;       // the mount points, when watching the table
  int mountFd_ = -1;
  GPid child_ = 0;
  std::map<uint32_t, Offer> offers_;  // by notification id

  // A line for the journal (or the terminal).
  static void say(int id, std::initializer_list<std::string> values) {
    std::cout << escapeForTerminal(cli::say(id, values)) << std::endl;
  }

  static gboolean stop(gpointer self) {
    gio().g_main_loop_quit(static_cast<Watcher*>(self)->loop_);
    return G_SOURCE_CONTINUE;
  }

  void subscribe(GDBusConnection* c, const char* iface, const char* member, const char* path, const char* arg0,
                 Handler h) {
    auto* b = new Bound{this, h};
    guint id = gio().g_dbus_connection_signal_subscribe(
        c, nullptr, iface, member, path, arg0, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar* objectPath, const gchar*, const gchar*, GVariant* parameters,
           gpointer data) {
          auto* bound = static_cast<Bound*>(data);
          (bound->self->*bound->handler)(objectPath, parameters);
        },
        b, [](gpointer data) { delete static_cast<Bound*>(data); });
    subscriptions_.push_back({c, id});
  }

  // --- udisks2 ---

  bool startUdisks() {
    system_ = gio().g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (!system_) return false;
    // Subscribed first, so that nothing falls between the listing and the signals.
    subscribe(system_, "org.freedesktop.DBus.Properties", "PropertiesChanged", nullptr, nullptr,
              &Watcher::onPropertiesChanged);
    subscribe(system_, "org.freedesktop.DBus.ObjectManager", "InterfacesAdded", kUdisksRoot, nullptr,
              &Watcher::onInterfacesAdded);
    subscribe(system_, "org.freedesktop.DBus.ObjectManager", "InterfacesRemoved", kUdisksRoot, nullptr,
              &Watcher::onInterfacesRemoved);
    GError* err = nullptr;
    GVariant* reply = gio().g_dbus_connection_call_sync(system_, kUdisks, kUdisksRoot, "org.freedesktop.DBus.ObjectManager",
                                                  "GetManagedObjects", nullptr, variantType("(a{oa{sa{sv}}})"),
                                                  G_DBUS_CALL_FLAGS_NONE, 25000, nullptr, &err);
    if (!reply) {
      gio().g_clear_error(&err);
      for (const auto& s : subscriptions_) {
        if (s.connection == system_) gio().g_dbus_connection_signal_unsubscribe(s.connection, s.id);
      }
      std::erase_if(subscriptions_, [this](const Subscription& s) { return s.connection == system_; });
      gio().g_object_unref(system_);
      system_ = nullptr;
      return false;
    }
    GVariant* objects = gio().g_variant_get_child_value(reply, 0);
    GVariantIter it;
    gio().g_variant_iter_init(&it, objects);
    const char* path = nullptr;
    GVariant* interfaces = nullptr;
    // What is mounted already was there before the watch: only learnt.
    while (gio().g_variant_iter_next(&it, "{&o@a{sa{sv}}}", &path, &interfaces)) {
      absorb(path, interfaces, false);
      gio().g_variant_unref(interfaces);
    }
    gio().g_variant_unref(objects);
    gio().g_variant_unref(reply);
    return true;
  }

  // A device's interfaces and their properties (a{sa{sv}}).
  void absorb(const std::string& path, GVariant* interfaces, bool act) {
    if (GVariant* block = gio().g_variant_lookup_value(interfaces, kBlock, variantType("a{sv}"))) {
      blockChanged(devices_[path], block);
      gio().g_variant_unref(block);
    }
    if (GVariant* fs = gio().g_variant_lookup_value(interfaces, kFilesystem, variantType("a{sv}"))) {
      if (GVariant* mp = gio().g_variant_lookup_value(fs, "MountPoints", variantType("aay"))) {
        mountsChanged(path, mountPointsOf(mp), act);
        gio().g_variant_unref(mp);
      }
      gio().g_variant_unref(fs);
    }
  }

  static void blockChanged(Device& d, GVariant* props) {
    GVariant* v = nullptr;
    if (gio().g_variant_lookup(props, "IdUUID", "@s", &v)) d.uuid = gio().g_variant_get_string(v, nullptr), gio().g_variant_unref(v);
    if (gio().g_variant_lookup(props, "IdLabel", "@s", &v)) d.label = gio().g_variant_get_string(v, nullptr), gio().g_variant_unref(v);
    if (gio().g_variant_lookup(props, "IdType", "@s", &v)) d.fsType = gio().g_variant_get_string(v, nullptr), gio().g_variant_unref(v);
    if (GVariant* node = gio().g_variant_lookup_value(props, "Device", variantType("ay"))) {
      d.node = gio().g_variant_get_bytestring(node);
      gio().g_variant_unref(node);
    }
    gboolean ignore = false;
    if (gio().g_variant_lookup(props, "HintIgnore", "b", &ignore)) d.ignore = ignore;
  }

  void mountsChanged(const std::string& path, std::set<std::string> now, bool act) {
    Device& d = devices_[path];
    std::vector<std::string> added;
    for (const auto& m : now) {
      if (!d.mounts.count(m)) added.push_back(m);
    }
    d.mounts = std::move(now);
    if (!act || d.ignore) return;
    for (const auto& m : added) mounted(m, d);
  }

  void onPropertiesChanged(const char* path, GVariant* parameters) {
    if (!gio().g_variant_is_of_type(parameters, variantType("(sa{sv}as)"))) return;
    const char* iface = nullptr;
    GVariant* changed = nullptr;
    GVariant* invalidated = nullptr;
    gio().g_variant_get(parameters, "(&s@a{sv}@as)", &iface, &changed, &invalidated);
    if (std::string_view(iface) == kBlock) {
      blockChanged(devices_[path], changed);
    } else if (std::string_view(iface) == kFilesystem) {
      if (GVariant* mp = gio().g_variant_lookup_value(changed, "MountPoints", variantType("aay"))) {
        mountsChanged(path, mountPointsOf(mp), true);
        gio().g_variant_unref(mp);
      } else if (invalidatedHas(invalidated, "MountPoints")) {
        GVariant* reply = gio().g_dbus_connection_call_sync(
            system_, kUdisks, path, "org.freedesktop.DBus.Properties", "Get",
            gio().g_variant_new("(ss)", kFilesystem, "MountPoints"), variantType("(v)"), G_DBUS_CALL_FLAGS_NONE, 10000,
            nullptr, nullptr);
        if (reply) {
          GVariant* boxed = gio().g_variant_get_child_value(reply, 0);
          GVariant* mp = gio().g_variant_get_variant(boxed);
          mountsChanged(path, mountPointsOf(mp), true);
          gio().g_variant_unref(mp);
          gio().g_variant_unref(boxed);
          gio().g_variant_unref(reply);
        }
      }
    }
    gio().g_variant_unref(changed);
    gio().g_variant_unref(invalidated);
  }

  static bool invalidatedHas(GVariant* names, const char* name) {
    GVariantIter it;
    gio().g_variant_iter_init(&it, names);
    const char* n = nullptr;
    while (gio().g_variant_iter_next(&it, "&s", &n)) {
      if (std::string_view(n) == name) return true;
    }
    return false;
  }

  void onInterfacesAdded(const char*, GVariant* parameters) {
    if (!gio().g_variant_is_of_type(parameters, variantType("(oa{sa{sv}})"))) return;
    const char* path = nullptr;
    GVariant* interfaces = nullptr;
    gio().g_variant_get(parameters, "(&o@a{sa{sv}})", &path, &interfaces);
    absorb(path, interfaces, true);
    gio().g_variant_unref(interfaces);
  }

  void onInterfacesRemoved(const char*, GVariant* parameters) {
    if (!gio().g_variant_is_of_type(parameters, variantType("(oas)"))) return;
    const char* path = nullptr;
    GVariant* names = nullptr;
    gio().g_variant_get(parameters, "(&o@as)", &path, &names);
    if (invalidatedHas(names, kBlock)) devices_.erase(path);
    else if (invalidatedHas(names, kFilesystem)) devices_[path].mounts.clear();
    gio().g_variant_unref(names);
  }

  // --- the mount table, where udisks2 is not ---

  static std::set<std::string> readMountTable(int fd) {
    std::string text;
    char buf[65536];
    ssize_t n;
    if (::lseek(fd, 0, SEEK_SET) != 0) return {};
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    std::set<std::string> out;
    for (const auto& m : parseMountInfo(text)) {
      if (!isPseudoFileSystem(m.fsType)) out.insert(m.mountPoint);
    }
    return out;
  }

  bool startMountTable() {
    mountFd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (mountFd_ < 0) return false;
    mountTable_ = readMountTable(mountFd_);
    // The kernel marks the table with an error condition when it changes.
    gio().g_unix_fd_add(mountFd_, GIOCondition(G_IO_PRI | G_IO_ERR), &Watcher::onMountTable, this);
    return true;
  }

  static gboolean onMountTable(int fd, GIOCondition, gpointer data) {
    auto* self = static_cast<Watcher*>(data);
    std::set<std::string> now = readMountTable(fd);
    for (const auto& m : now) {
      // Only where removable media are mounted: the table also changes for
      // containers, snaps and the like.
      bool removable = m.starts_with("/media/") || m.starts_with("/run/media/") || m.starts_with("/mnt/");
      if (!self->mountTable_.count(m) && removable) self->mounted(m, Device{});
    }
    self->mountTable_ = std::move(now);
    return G_SOURCE_CONTINUE;
  }

  // --- a volume was mounted ---

  void mounted(const std::string& mount, const Device& d) {
    VolumeFacts facts = volumeFactsOf(mount);
    if (facts.mountPoint != mount) {
      // Not (yet) seen in the mount table: what udisks2 said stands alone.
      facts = VolumeFacts{};
      facts.mountPoint = mount;
    }
    facts.inside.clear();
    if (!d.fsType.empty()) facts.fsType = d.fsType;
    if (!d.uuid.empty()) facts.uuid = d.uuid;
    if (!d.label.empty()) facts.label = d.label;
    if (!d.node.empty()) facts.device = d.node;
    std::string label = !facts.label.empty() ? facts.label : mount.substr(mount.find_last_of('/') + 1);
    // A label names an item, and "/" separates the names of a path.
    std::replace(label.begin(), label.end(), '/', '-');
    if (!facts.known()) return;

    bool known = false;
    for (const auto& library : libraries_) {
      // Opened for each volume, so that what the last job wrote is seen.
      auto lib = catalog::Library::open(library, true);
      if (!lib) {
        std::cerr << errorPrefix() << escapeForTerminal(app_.inUserLanguage(lib.error(), library).message) << "\n";
        continue;
      }
      auto& doc = (*lib)->catalog();
      for (const auto& found : app::itemsOnVolume(doc, facts)) {
        known = true;
        std::string where = itemPathText(doc, found.category, found.number);
        if (found.disc) {
          say(app::kTextWatchDisc, {label, mount, where, library});
          continue;
        }
        say(dryRun_ ? app::kTextWatchWouldUpdate : app::kTextWatchUpdating, {label, mount, where, library});
        if (dryRun_) continue;
        std::string address;
        for (uint16_t c : found.category) address += "#" + std::to_string(c) + "/";
        address += "#" + std::to_string(found.number);
        enqueue({library, {"update", address, "--from=" + found.root, "-q"}, where});
      }
    }
    if (known) return;
    if (dryRun_ || !offer(mount, label)) {
      say(app::kTextWatchNoDesktop, {label, mount});
    } else {
      say(app::kTextWatchAsked, {label, mount});
    }
  }

  // Asks the desktop whether to add the volume; false when no desktop answers.
  bool offer(const std::string& mount, const std::string& label) {
    if (!session_) return false;
    GVariantBuilder actions;
    gio().g_variant_builder_init(&actions, variantType("as"));
    gio().g_variant_builder_add(&actions, "s", "add");
    gio().g_variant_builder_add(&actions, "s", cli::say(app::kTextWatchAddAction).c_str());
    GVariantBuilder hints;
    gio().g_variant_builder_init(&hints, variantType("a{sv}"));
    gio().g_variant_builder_add(&hints, "{sv}", "category", gio().g_variant_new_string("device.added"));
    std::string body = cli::say(app::kTextWatchAskBody, {label, mount, libraries_.front()});
    GVariant* reply = gio().g_dbus_connection_call_sync(
        session_, kNotifications, kNotificationsPath, kNotifications, "Notify",
        gio().g_variant_new("(susssasa{sv}i)", "Tamber+", 0u, "drive-removable-media",
                      cli::say(app::kTextWatchAskSummary).c_str(), body.c_str(), &actions, &hints, 0),
        variantType("(u)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
    if (!reply) return false;
    uint32_t id = 0;
    gio().g_variant_get(reply, "(u)", &id);
    gio().g_variant_unref(reply);
    offers_[id] = Offer{mount, label};
    return true;
  }

  void onAction(const char*, GVariant* parameters) {
    if (!gio().g_variant_is_of_type(parameters, variantType("(us)"))) return;
    uint32_t id = 0;
    const char* key = nullptr;
    gio().g_variant_get(parameters, "(u&s)", &id, &key);
    auto it = offers_.find(id);
    if (it == offers_.end() || std::string_view(key) != "add") return;
    Offer o = it->second;
    offers_.erase(it);
    say(app::kTextWatchAdding, {o.label, o.mount, libraries_.front()});
    enqueue({libraries_.front(), {"add-folder", o.mount, "--label=" + o.label, "--category=" + category_, "-q"}, o.label});
  }

  void onClosed(const char*, GVariant* parameters) {
    if (!gio().g_variant_is_of_type(parameters, variantType("(uu)"))) return;
    uint32_t id = 0, reason = 0;
    gio().g_variant_get(parameters, "(uu)", &id, &reason);
    offers_.erase(id);
  }

  // --- the jobs, one at a time ---

  struct Queued {
    std::string library;
    std::vector<std::string> args;
    std::string what;
  };
  std::deque<Queued> queue_;
  std::string running_;

  void enqueue(Queued q) {
    queue_.push_back(std::move(q));
    if (child_ == 0) next();
  }

  void next() {
    while (child_ == 0 && !queue_.empty()) {
      Queued q = std::move(queue_.front());
      queue_.pop_front();
      std::vector<std::string> args{exe_};
      if (!g_.config.empty()) args.insert(args.end(), {"--config", g_.config});
      args.insert(args.end(), {"-L", q.library});
      args.insert(args.end(), q.args.begin(), q.args.end());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      GError* err = nullptr;
      if (!gio().g_spawn_async(nullptr, argv.data(), nullptr, GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD), nullptr, nullptr,
                         &child_, &err)) {
        say(app::kTextWatchJobFailed, {q.what, err ? err->message : ""});
        gio().g_clear_error(&err);
        child_ = 0;
        continue;
      }
      running_ = q.what;
      gio().g_child_watch_add(child_, &Watcher::onChildEnded, this);
    }
  }

  static void onChildEnded(GPid pid, gint status, gpointer data) {
    auto* self = static_cast<Watcher*>(data);
    gio().g_spawn_close_pid(pid);
    self->child_ = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      say(app::kTextWatchJobFailed, {self->running_, std::to_string(code)});
    }
    self->next();
  }
};

}  // namespace

void registerWatchCommand(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::vector<std::string> in;
    std::string category;
    bool dryRun = false;
  };
  auto a = std::make_shared<Args>();
  auto* watch = cli.add_subcommand(
      "watch", "Keep the catalogue current: update the items of volumes as they are mounted, offer to add new ones");
  watch->add_option("--in", a->in, "Watch for the items of this library (repeat for several; new volumes go to the first)")
      ->allow_extra_args(false)
      ->take_all();
  watch->add_option("--category", a->category,
                    "The category a volume added from the notification goes to, names joined by / (default: \"New "
                    "volumes\" in the user's language)");
  watch->add_flag("-n,--dry-run", a->dryRun, "Say what would be updated or offered; nothing is read or asked");
  watch->footer(
      "Runs until stopped (Ctrl-C, or systemctl --user stop tamber-watch.service). Mounts are learnt from udisks2, "
      "or, without it, from the mount table (then only below /media, /run/media and /mnt). A mounted volume is "
      "recognised by its UUID, or label and size, and each folder item read from it is re-scanned from where it is "
      "now, one at a time. For a volume no library knows, the desktop is asked \"Add to the catalogue?\"; the answer "
      "Add catalogues it into the first library under its label, in --category. What was mounted before the watch started is "
      "left to update --all.\n"
      "Exit status: 0 when stopped, 1 when no mounts can be watched, 2 on usage errors.");
  watch->callback([&status, g, a] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      if (const std::string& why = loadedGio().why; !why.empty()) {
        n.error(why);
        return kExitFailure;
      }
      std::vector<std::string> libraries = a->in;
      if (libraries.empty()) libraries.push_back(libraryOrDefault(app, *g));
      std::string category = a->category.empty() ? app.text(app::kTextWatchCategory) : a->category;
      Watcher w(app, *g, libraries, category, a->dryRun);
      return w.run();
    }, Access::look);
  });
}

}  // namespace tamber::cli
