// tamber watch against a udisks2 and a notification service of the test's
// own, on a private message bus: a known volume mounted is re-scanned from
// where it is now; an unknown one is offered, and added when the user says so.

#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/volumes.h"
#include "catalog/library.h"
#include "catalog/names.h"
#include "tests/cli_library.h"

using namespace tamber::test_support;
namespace fs = std::filesystem;

namespace {

constexpr const char* kManagerXml =
    "<node><interface name='org.freedesktop.DBus.ObjectManager'>"
    "<method name='GetManagedObjects'><arg type='a{oa{sa{sv}}}' direction='out'/></method>"
    "</interface></node>";
constexpr const char* kNotificationsXml =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/><arg type='u' direction='out'/></method>"
    "</interface></node>";
constexpr const char* kKnownDevice = "/org/freedesktop/UDisks2/block_devices/sdz1";
constexpr const char* kNewDevice = "/org/freedesktop/UDisks2/block_devices/sdy1";

// What the services were asked.
struct Heard {
  int listings = 0;
  std::vector<std::string> summaries, bodies, actions;
};

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
            GDBusMethodInvocation* call, gpointer data) {
  auto* heard = static_cast<Heard*>(data);
  if (std::string_view(method) == "GetManagedObjects") {
    ++heard->listings;
    // One stick the library knows, not mounted yet.
    g_dbus_method_invocation_return_value(
        call, g_variant_new_parsed(
                  "(@a{oa{sa{sv}}} {%o: {'org.freedesktop.UDisks2.Block': {'IdUUID': <'1A2B-3C4D'>, "
                  "'IdLabel': <'HOLIDAYS'>, 'IdType': <'vfat'>, 'Device': <b'/dev/sdz1'>, 'HintIgnore': <false>}, "
                  "'org.freedesktop.UDisks2.Filesystem': {'MountPoints': <@aay []>}}},)",
                  kKnownDevice));
    return;
  }
  const char *summary = nullptr, *body = nullptr;
  GVariantIter* actions = nullptr;
  g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", nullptr, nullptr, nullptr, &summary, &body, &actions, nullptr,
                nullptr);
  heard->summaries.push_back(summary);
  heard->bodies.push_back(body);
  const char* a = nullptr;
  while (g_variant_iter_next(actions, "&s", &a)) heard->actions.push_back(a);
  g_variant_iter_free(actions);
  g_dbus_method_invocation_return_value(call, g_variant_new("(u)", 7u));
}

class Watch : public CliLibrary {
 protected:
  GPid bus = 0, watcher = 0;
  GDBusConnection* connection = nullptr;
  std::string address;
  Heard heard;

  void SetUp() override {
    CliLibrary::SetUp();
    if (HasFatalFailure()) return;
    // A private bus stands for both the system's and the session's.
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
    int out = -1;
    GError* err = nullptr;
    ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv), nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                                         nullptr, &bus, nullptr, &out, nullptr, &err))
        << (err ? err->message : "");
    char c;
    while (read(out, &c, 1) == 1 && c != '\n') address += c;
    close(out);
    ASSERT_FALSE(address.empty());
    connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &err);
    ASSERT_TRUE(connection) << (err ? err->message : "");
    for (const char* name : {"org.freedesktop.UDisks2", "org.freedesktop.Notifications"}) {
      GVariant* r = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", name, 0u),
                                                nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
      ASSERT_TRUE(r);
      g_variant_unref(r);
    }
    static const GDBusInterfaceVTable vtable{onCall, nullptr, nullptr, {}};
    for (auto [xml, path] : {std::pair{kManagerXml, "/org/freedesktop/UDisks2"},
                             std::pair{kNotificationsXml, "/org/freedesktop/Notifications"}}) {
      GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(xml, nullptr);
      ASSERT_GT(g_dbus_connection_register_object(connection, path, info->interfaces[0], &vtable, &heard, nullptr,
                                                  nullptr),
                0u);
      g_dbus_node_info_unref(info);
    }
  }

  void TearDown() override {
    if (watcher) {
      kill(watcher, SIGTERM);
      int st = 0;
      waitpid(watcher, &st, 0);
      EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "the watch did not end well when stopped\n" << said();
    }
    if (connection) g_object_unref(connection);
    if (bus) {
      kill(bus, SIGTERM);
      waitpid(bus, nullptr, 0);
    }
  }

  std::string said() const { return fileText(dir.path / "watch.out"); }

  void startWatch() {
    std::string cmd = "exec " + std::string(TAMBER_CLI) + " -L " + shellQuote(lib) + " --config " +
                      shellQuote(config) + " watch > " + shellQuote((dir.path / "watch.out").string()) + " 2>&1";
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), true);
    env = g_environ_setenv(env, "DBUS_SESSION_BUS_ADDRESS", address.c_str(), true);
    ASSERT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                              &watcher, nullptr));
    g_strfreev(env);
    ASSERT_TRUE(until([&] { return heard.listings > 0; })) << said();
  }

  // Serves the bus until `done`, for 30 s at most.
  bool until(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
      while (g_main_context_iteration(nullptr, false)) {
      }
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  void emit(const char* path, const char* iface, const char* member, GVariant* parameters) {
    ASSERT_TRUE(g_dbus_connection_emit_signal(connection, nullptr, path, iface, member, parameters, nullptr));
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
  }

  static GVariant* mountPoints(const std::string& path) {
    const char* one[] = {path.c_str(), nullptr};
    return g_variant_new_bytestring_array(one, 1);
  }

  std::string listing(const std::string& item) const { return on(lib, "ls " + shellQuote(item)).out; }
};

TEST_F(Watch, AKnownStickIsUpdatedAndANewOneOfferedThenAdded) {
  // The stick was catalogued when it was mounted elsewhere.
  fs::path old = dir.path / "then";
  fs::create_directories(old);
  std::ofstream(old / "a.txt") << "a";
  ASSERT_EQ(on(lib, "add-folder " + shellQuote(old.string()) + " --label Holidays --category Sticks -q").status, 0);
  {
    auto l = tamber::catalog::Library::open(lib, false);
    ASSERT_TRUE(l);
    auto& doc = (*l)->catalog();
    xmlNode* item = doc.item({1}, 1);
    ASSERT_TRUE(item);
    const char* settings = tamber::catalog::nameCode(tamber::catalog::kScanSettings);
    doc.setField(item, tamber::catalog::kVolumeFileSystem, "vfat", settings);
    doc.setField(item, tamber::catalog::kVolumeUuid, "1A2B-3C4D", settings);
    doc.setField(item, tamber::catalog::kVolumeLabel, "HOLIDAYS", settings);
    doc.setField(item, tamber::catalog::kVolumeFolder, "/", settings);
    ASSERT_TRUE((*l)->save());
  }
  fs::remove_all(old);
  startWatch();
  if (HasFatalFailure()) return;

  // Mounted now somewhere else, with a file more.
  fs::path now = dir.path / "media" / "HOLIDAYS";
  fs::create_directories(now);
  std::ofstream(now / "a.txt") << "a";
  std::ofstream(now / "b.txt") << "b";
  emit(kKnownDevice, "org.freedesktop.DBus.Properties", "PropertiesChanged",
       g_variant_new("(s@a{sv}@as)", "org.freedesktop.UDisks2.Filesystem",
                     g_variant_new_parsed("{'MountPoints': %v}", mountPoints(now.string())),
                     g_variant_new_strv(nullptr, 0)));
  EXPECT_TRUE(until([&] { return listing("Sticks/Holidays").find("b.txt") != std::string::npos; })) << said();
  EXPECT_NE(said().find("updating Sticks/Holidays"), std::string::npos) << said();
  EXPECT_TRUE(heard.summaries.empty());

  // A stick no library holds arrives mounted: the desktop is asked. Its
  // label begins with "-" and holds "/"; it names the item all the same.
  fs::path other = dir.path / "media" / "NEW <STICK>";
  fs::create_directories(other);
  std::ofstream(other / "c.txt") << "c";
  emit("/org/freedesktop/UDisks2", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded",
       g_variant_new_parsed("(%o, {'org.freedesktop.UDisks2.Block': {'IdUUID': <'9999-0000'>, 'IdLabel': "
                            "<'-NEW/<STICK>'>, 'IdType': <'vfat'>}, 'org.freedesktop.UDisks2.Filesystem': "
                            "{'MountPoints': %v}})",
                            kNewDevice, mountPoints(other.string())));
  ASSERT_TRUE(until([&] { return !heard.summaries.empty(); })) << said();
  EXPECT_EQ(heard.summaries[0], "Add to the catalogue?");
  EXPECT_NE(heard.bodies[0].find("-NEW-<STICK>"), std::string::npos);
  ASSERT_EQ(heard.actions.size(), 2u);
  EXPECT_EQ(heard.actions[0], "add");
  // Nothing is added before the user says so.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(on(lib, "ls").out.find("New volumes"), std::string::npos);

  // An answer to another notification is not taken for this one.
  emit("/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked",
       g_variant_new("(us)", 8u, "add"));
  emit("/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked",
       g_variant_new("(us)", 7u, "add"));
  EXPECT_TRUE(until([&] { return listing("New volumes/-NEW-<STICK>").find("c.txt") != std::string::npos; }))
      << said();
  EXPECT_EQ(on(lib, "ls 'New volumes'").out, "-NEW-<STICK>\n");
}

TEST_F(Watch, AHiddenDeviceAndAMalformedSignalArePassedOver) {
  startWatch();
  if (HasFatalFailure()) return;
  fs::path hidden = dir.path / "hidden";
  fs::create_directories(hidden);
  emit("/org/freedesktop/UDisks2", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded",
       g_variant_new_parsed("(%o, {'org.freedesktop.UDisks2.Block': {'IdUUID': <'5555-0000'>, 'IdType': <'vfat'>, "
                            "'HintIgnore': <true>}, 'org.freedesktop.UDisks2.Filesystem': {'MountPoints': %v}})",
                            kNewDevice, mountPoints(hidden.string())));
  // A hostile signal of the wrong shape is passed over.
  emit(kKnownDevice, "org.freedesktop.DBus.Properties", "PropertiesChanged",
       g_variant_new("(s)", "org.freedesktop.UDisks2.Filesystem"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  until([] { return true; });
  EXPECT_TRUE(heard.summaries.empty()) << said();
  EXPECT_EQ(said().find("hidden"), std::string::npos) << said();
}

TEST_F(CliLibrary, ItemsAreFoundOnAVolumeWithTheirRootsBelowItsMountPoint) {
  fs::path d = dir.path / "d";
  fs::create_directories(d);
  for (const char* label : {"Backup", "Other", "Elsewhere"}) {
    ASSERT_EQ(on(lib, "add-folder " + shellQuote(d.string()) + " --label " + label + " --category C -q").status, 0);
  }
  auto l = tamber::catalog::Library::open(lib, false);
  ASSERT_TRUE(l);
  auto& doc = (*l)->catalog();
  const char* settings = tamber::catalog::nameCode(tamber::catalog::kScanSettings);
  auto record = [&](uint16_t number, const char* uuid, const char* folder) {
    xmlNode* item = doc.item({1}, number);
    doc.setField(item, tamber::catalog::kVolumeFileSystem, "exfat", settings);
    doc.setField(item, tamber::catalog::kVolumeUuid, uuid, settings);
    doc.setField(item, tamber::catalog::kVolumeFolder, folder, settings);
  };
  record(1, "ABCD-0001", "backup/2019");
  record(2, "ABCD-0002", "/");
  record(3, "ABCD-0001", "/");
  tamber::VolumeFacts facts;
  facts.mountPoint = "/media/u/PHOTOS";
  facts.fsType = "exfat";
  facts.uuid = "ABCD-0001";
  auto found = tamber::app::itemsOnVolume(doc, facts);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].number, 1);
  EXPECT_EQ(found[0].root, "/media/u/PHOTOS/backup/2019");
  EXPECT_EQ(found[1].number, 3);
  EXPECT_EQ(found[1].root, "/media/u/PHOTOS");
  EXPECT_FALSE(found[0].disc);
  facts.mountPoint = "/";
  found = tamber::app::itemsOnVolume(doc, facts);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].root, "/backup/2019");
  EXPECT_EQ(found[1].root, "/");
  facts.fsType = "ext4";  // another volume of the same id is not the same one
  facts.uuid = "ABCD-0003";
  EXPECT_TRUE(tamber::app::itemsOnVolume(doc, facts).empty());
}

TEST_F(CliLibrary, UpdateFromReadsOneItemOnly) {
  fs::path d = dir.path / "d";
  fs::create_directories(d);
  ASSERT_EQ(on(lib, "add-folder " + shellQuote(d.string()) + " --label D --category C -q").status, 0);
  EXPECT_EQ(on(lib, "update --all --from " + shellQuote(d.string())).status, 2);
  EXPECT_EQ(on(lib, "update C/D --in a.cds b.cds --from " + shellQuote(d.string())).status, 2);
  fs::path copy = dir.path / "copy";
  fs::create_directories(copy);
  std::ofstream(copy / "new.txt") << "n";
  EXPECT_EQ(on(lib, "update C/D -q --from " + shellQuote(copy.string())).status, 0);
  EXPECT_EQ(on(lib, "ls C/D").out, "new.txt\n");
}

}  // namespace
