// SG_IO on a Linux optical drive.

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "disc/transport.h"
#include "platform/mounts.h"

namespace tamber::disc {

namespace {

class SgTransport : public Transport {
 public:
  SgTransport(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~SgTransport() override { ::close(fd_); }

  Status execute(const std::vector<uint8_t>& cdb, uint8_t* data, size_t length, bool dataIn,
                 size_t& received) override {
    received = 0;
    unsigned char sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cdb.size());
    io.cmdp = const_cast<unsigned char*>(cdb.data());
    io.dxfer_direction = length == 0 ? SG_DXFER_NONE : dataIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    io.dxferp = data;
    io.dxfer_len = static_cast<unsigned int>(length);
    io.sbp = sense;
    io.mx_sb_len = sizeof sense;
    io.timeout = kCommandTimeoutSeconds * 1000;
    if (::ioctl(fd_, SG_IO, &io) != 0) {
      return Error{Errc::io, path_ + ": " + std::strerror(errno)};
    }
    if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK || io.status != 0) {
      char why[96];
      std::snprintf(why, sizeof why, "the drive refused the command %02Xh (sense %X/%02X/%02X)", cdb[0],
                    io.sb_len_wr > 2 ? sense[2] & 0x0F : 0, io.sb_len_wr > 12 ? sense[12] : 0,
                    io.sb_len_wr > 13 ? sense[13] : 0);
      return Error{Errc::io, path_ + ": " + why};
    }
    received = length - static_cast<size_t>(io.resid > 0 ? io.resid : 0);
    return {};
  }

  std::string mountPoint() const override {
    for (const auto& m : currentMounts()) {
      if (m.source == path_) return m.mountPoint;
    }
    return {};
  }

  std::string device() const override { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

Result<std::unique_ptr<Transport>> openSgTransport(const std::string& devicePath) {
  // O_NONBLOCK: an empty drive or an open tray must not make the open wait.
  int fd = ::open(devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Error{Errc::io, devicePath + ": " + std::strerror(errno)};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
    ::close(fd);
    return Error{Errc::invalid_argument, devicePath + ": not a drive"};
  }
  return std::unique_ptr<Transport>(new SgTransport(fd, devicePath));
}

}  // namespace tamber::disc
