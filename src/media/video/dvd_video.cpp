#include "media/video/dvd_video.h"

#include <cstdarg>
#include <memory>

extern "C" {
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>
}

namespace tamber::media {

namespace {

// libdvdread's messages would go to standard error in the middle of a
// progress line.
void quiet(void*, dvd_logger_level_t, const char*, va_list) {}
const dvd_logger_cb kQuiet = {quiet};

struct CloseDvd {
  void operator()(dvd_reader_t* d) const { DVDClose(d); }
};
struct CloseIfo {
  void operator()(ifo_handle_t* i) const { ifoClose(i); }
};
using Dvd = std::unique_ptr<dvd_reader_t, CloseDvd>;
using Ifo = std::unique_ptr<ifo_handle_t, CloseIfo>;

int fromBcd(uint8_t v) { return (v >> 4) * 10 + (v & 0x0F); }

double secondsOf(const dvd_time_t& t) {
  return fromBcd(t.hour) * 3600.0 + fromBcd(t.minute) * 60.0 + fromBcd(t.second);
}

bool fail(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

}  // namespace

bool readDvdTitles(const std::string& folder, std::vector<DvdTitle>& out, std::string* why) {
  out.clear();
  Dvd dvd(DVDOpen2(nullptr, &kQuiet, folder.c_str()));
  if (!dvd) return fail(why, "no DVD-Video structure");
  Ifo vmg(ifoOpen(dvd.get(), 0));
  if (!vmg || !vmg->tt_srpt) return fail(why, "its VIDEO_TS.IFO cannot be read");
  const tt_srpt_t* titles = vmg->tt_srpt;
  // A title set's IFO is read once for all its titles.
  std::vector<Ifo> sets(256);
  std::vector<bool> tried(256, false);
  for (int i = 0; i < titles->nr_of_srpts && i < 99; ++i) {
    const title_info_t& info = titles->title[i];
    DvdTitle t;
    t.number = i + 1;
    t.chapters = info.nr_of_ptts;
    t.angles = info.nr_of_angles > 0 ? info.nr_of_angles : 1;
    int set = info.title_set_nr;
    if (set > 0 && !tried[set]) {
      tried[set] = true;
      sets[set].reset(ifoOpen(dvd.get(), set));
    }
    const ifo_handle_t* vts = set > 0 ? sets[set].get() : nullptr;
    if (vts && vts->vts_ptt_srpt && vts->vts_pgcit && info.vts_ttn > 0 &&
        info.vts_ttn <= vts->vts_ptt_srpt->nr_of_srpts) {
      const ttu_t& ttu = vts->vts_ptt_srpt->title[info.vts_ttn - 1];
      if (ttu.nr_of_ptts > 0 && ttu.ptt) {
        int pgcn = ttu.ptt[0].pgcn;
        if (pgcn > 0 && pgcn <= vts->vts_pgcit->nr_of_pgci_srp && vts->vts_pgcit->pgci_srp[pgcn - 1].pgc) {
          t.seconds = secondsOf(vts->vts_pgcit->pgci_srp[pgcn - 1].pgc->playback_time);
        }
      }
    }
    if (vts && vts->vtsi_mat) {
      for (int a = 0; a < vts->vtsi_mat->nr_of_vts_audio_streams && a < 8; ++a) {
        const audio_attr_t& attr = vts->vtsi_mat->vts_audio_attr[a];
        char c1 = static_cast<char>(attr.lang_code >> 8), c2 = static_cast<char>(attr.lang_code & 0xFF);
        bool named = attr.lang_type == 1 && c1 >= 'a' && c1 <= 'z' && c2 >= 'a' && c2 <= 'z';
        t.audioLanguages.push_back(named ? std::string{c1, c2} : std::string("und"));
      }
    }
    out.push_back(std::move(t));
  }
  if (out.empty()) return fail(why, "its VIDEO_TS.IFO names no titles");
  return true;
}

}  // namespace tamber::media
