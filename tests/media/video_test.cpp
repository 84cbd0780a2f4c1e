// Video files: what the probe finds against what ffprobe finds in the same
// files (made here by ffmpeg, in every container we read), hostile files,
// and the fields a scan records, shows and searches.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "media/video/dvd_video.h"
#include "media/video/video_probe.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;
using namespace tamber;
using test_support::runCommand;
using test_support::shellQuote;
using test_support::TempDir;

namespace {

std::string fileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// ffprobe's flat output as key -> value, quotes taken off.
std::map<std::string, std::string> ffprobe(const fs::path& file) {
  auto r = runCommand(
      "ffprobe -v error -show_entries "
      "format=format_name,duration,bit_rate:format_tags:stream=codec_type,codec_name,width,height,avg_frame_rate,"
      "r_frame_rate,channels:stream_tags=language:stream_disposition=attached_pic -of flat " +
          shellQuote(file.string()),
      false);
  std::map<std::string, std::string> out;
  size_t at = 0;
  while (at < r.out.size()) {
    size_t end = r.out.find('\n', at);
    if (end == std::string::npos) end = r.out.size();
    std::string line = r.out.substr(at, end - at);
    at = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    // Tag names as the container spells them ("ARTIST" in Matroska).
    if (key.rfind("format.tags.", 0) == 0) {
      for (size_t i = 12; i < key.size(); ++i) key[i] = static_cast<char>(std::tolower(key[i]));
    }
    out[key] = value;
  }
  return out;
}

double rational(const std::string& text) {
  int num = 0, den = 0;
  if (std::sscanf(text.c_str(), "%d/%d", &num, &den) != 2 || num <= 0 || den <= 0) return 0;
  return static_cast<double>(num) / den;
}

std::string get(const std::map<std::string, std::string>& m, const std::string& key) {
  auto it = m.find(key);
  return it == m.end() ? std::string() : it->second;
}

// The program as these tests run it. Under the address sanitizer its leak
// check stays off: once FFmpeg's libraries are loaded beside the picture
// library's threads, the leak checker's own tracer crashes reading those
// threads' dynamic TLS (a fault of the sanitizer runtime, which then fails
// the command). The probe's own leaks are checked in this process.
std::string tamberCli() { return "ASAN_OPTIONS=detect_leaks=0 " + std::string(TAMBER_CLI); }

// The videos of the tests: every container we read, several codecs, tags,
// audio languages, a subtitle track.
struct Sample {
  const char* name;
  const char* options;
};
const Sample kSamples[] = {
    {"tagged.mp4",
     "-map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -c:a aac -metadata title='Ünïcode title' "
     "-metadata artist='The Artist' -metadata date=2021 -metadata comment='A comment' "
     "-metadata:s:a:0 language=eng -metadata:s:a:1 language=fra"},
    {"web.webm", "-map 0 -map 1 -c:v libvpx -b:v 100k -c:a libopus -metadata title=Web"},
    {"old.avi", "-map 0 -map 1 -c:v mpeg4 -c:a mp3 -metadata title='AVI title'"},
    {"disc.vob", "-map 0 -map 1 -c:v mpeg2video -c:a mp2 -f vob"},
    {"broadcast.ts", "-map 0 -map 1 -c:v mpeg2video -c:a mp2"},
    {"camera.m2ts", "-map 0 -c:v libx264 -preset ultrafast -f mpegts -mpegts_m2ts_mode 1"},
    {"flash.flv", "-map 0 -map 1 -c:v flv1 -c:a mp3 -ar 44100"},
    {"windows.wmv", "-map 0 -map 1 -c:v wmv2 -c:a wmav2 -metadata title='WMV title'"},
    {"film.mkv",
     "-map 0 -map 1 -map 3 -c:v libx264 -preset ultrafast -c:a ac3 -ac 6 -c:s srt -metadata:s:s:0 language=ger "
     "-metadata:s:a:0 language=spa -metadata title='MKV title' -metadata ARTIST=Someone"},
    {"studio.mov", "-map 0 -map 1 -c:v mjpeg -c:a pcm_s16le"},
};

class Video : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    fs::path folder = dir_->path / "videos";
    fs::create_directories(folder);
    writeBytes(dir_->path / "s.srt", "1\n00:00:00,000 --> 00:00:01,000\nHello\n");
    for (const Sample& s : kSamples) {
      std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=25:duration=1.5 "
                        "-f lavfi -i sine=frequency=440:duration=1.5 -f lavfi -i sine=frequency=660:duration=1.5 "
                        "-i " + shellQuote((dir_->path / "s.srt").string()) + " " + s.options + " " +
                        shellQuote((folder / s.name).string());
      auto r = runCommand(cmd);
      ASSERT_EQ(r.status, 0) << s.name << ": " << r.out;
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fs::path videos() { return dir_->path / "videos"; }
  static TempDir* dir_;
};
TempDir* Video::dir_ = nullptr;

TEST_F(Video, EveryContainerGivesWhatFfprobeGives) {
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.name);
    fs::path file = videos() / s.name;
    media::VideoRecord v;
    std::string why;
    ASSERT_TRUE(media::probeVideo(file.string(), v, &why)) << why;
    auto p = ffprobe(file);
    EXPECT_EQ(v.container, get(p, "format.format_name"));
    EXPECT_NEAR(v.seconds, std::atof(get(p, "format.duration").c_str()), 0.001);
    EXPECT_EQ(v.bitRate, std::atoll(get(p, "format.bit_rate").c_str()));
    // The streams in their order: the first picture stream, every audio
    // track, every subtitle track.
    std::string videoCodec;
    int width = 0, height = 0;
    double rate = 0;
    std::vector<media::AudioTrack> audio;
    std::vector<std::string> subtitles;
    for (int i = 0;; ++i) {
      std::string at = "streams.stream." + std::to_string(i) + ".";
      std::string type = get(p, at + "codec_type");
      if (type.empty()) break;
      if (type == "video" && videoCodec.empty() && get(p, at + "disposition.attached_pic") != "1") {
        videoCodec = get(p, at + "codec_name");
        width = std::atoi(get(p, at + "width").c_str());
        height = std::atoi(get(p, at + "height").c_str());
        rate = rational(get(p, at + "avg_frame_rate"));
        if (rate == 0) rate = rational(get(p, at + "r_frame_rate"));
      } else if (type == "audio") {
        audio.push_back({get(p, at + "codec_name"), std::atoi(get(p, at + "channels").c_str()),
                         get(p, at + "tags.language")});
      } else if (type == "subtitle") {
        std::string l = get(p, at + "tags.language");
        subtitles.push_back(l.empty() ? "und" : l);
      }
    }
    EXPECT_EQ(v.videoCodec, videoCodec);
    EXPECT_EQ(v.width, width);
    EXPECT_EQ(v.height, height);
    EXPECT_NEAR(v.frameRate, rate, 0.01);
    ASSERT_EQ(v.audio.size(), audio.size());
    for (size_t i = 0; i < audio.size(); ++i) {
      EXPECT_EQ(v.audio[i].codec, audio[i].codec);
      EXPECT_EQ(v.audio[i].channels, audio[i].channels);
      EXPECT_EQ(v.audio[i].language, audio[i].language);
    }
    EXPECT_EQ(v.subtitleLanguages, subtitles);
    EXPECT_EQ(v.title, get(p, "format.tags.title"));
    EXPECT_EQ(v.artist, get(p, "format.tags.artist"));
    EXPECT_EQ(v.date, get(p, "format.tags.date"));
    EXPECT_EQ(v.comment, get(p, "format.tags.comment"));
    // Every container gives a frame for the thumbnail, within the box
    // (a transport stream's only key frame is its first).
    media::ProbeOptions withFrame;
    withFrame.frameBox = 64;
    media::VideoRecord framed;
    ASSERT_TRUE(media::probeVideo(file.string(), framed, &why, withFrame)) << why;
    EXPECT_EQ(framed.videoCodec, v.videoCodec);
    if (!v.videoCodec.empty()) {
      EXPECT_EQ(framed.frameRgb.size(), static_cast<size_t>(framed.frameWidth) * framed.frameHeight * 3);
      EXPECT_TRUE(framed.frameWidth == 64 || framed.frameHeight == 64) << framed.frameWidth << "x" << framed.frameHeight;
      EXPECT_LE(std::max(framed.frameWidth, framed.frameHeight), 64);
    }
  }
  // What the samples were made to hold, so that the comparison above
  // compares something.
  media::VideoRecord v;
  ASSERT_TRUE(media::probeVideo((videos() / "tagged.mp4").string(), v));
  EXPECT_EQ(v.title, "Ünïcode title");
  EXPECT_EQ(media::audioTracksText(v.audio), "aac 1ch eng; aac 1ch fra");
  EXPECT_EQ(v.width, 176);
  ASSERT_TRUE(media::probeVideo((videos() / "film.mkv").string(), v));
  EXPECT_EQ(v.subtitleLanguages, std::vector<std::string>{"ger"});
  EXPECT_EQ(media::audioTracksText(v.audio), "ac3 6ch spa");
  EXPECT_EQ(v.artist, "Someone");
  EXPECT_EQ(media::frameRateText(v.frameRate), "25");
  EXPECT_EQ(media::frameRateText(30000.0 / 1001), "29.97");
  EXPECT_EQ(media::durationText(3725.9), "01:02:05");
  EXPECT_EQ(media::durationText(65), "01:05");
}

TEST_F(Video, HostileFilesEndQuicklyAndClaimNothing) {
  TempDir dir;
  auto refused = [&](const std::string& name, const std::string& bytes) {
    writeBytes(dir.path / name, bytes);
    media::VideoRecord v;
    std::string why;
    EXPECT_FALSE(media::probeVideo((dir.path / name).string(), v, &why)) << name;
    EXPECT_FALSE(why.empty()) << name;
  };
  // Bytes of no container, whatever the name says; a playlist and a
  // concatenation list that would open other files are no containers we
  // read.
  refused("zeros.mp4", std::string(100000, '\0'));
  refused("list.ts", "#EXTM3U\n#EXTINF:10,\n" + (videos() / "broadcast.ts").string() + "\n");
  refused("concat.mkv", "ffconcat version 1.0\nfile '" + (videos() / "film.mkv").string() + "'\n");
  refused("empty.avi", "");
  // A link is not followed; a FIFO is not opened for good.
  fs::create_symlink(videos() / "film.mkv", dir.path / "link.mkv");
  media::VideoRecord v;
  EXPECT_FALSE(media::probeVideo((dir.path / "link.mkv").string(), v));
  ASSERT_EQ(::mkfifo((dir.path / "pipe.mp4").c_str(), 0600), 0);
  EXPECT_FALSE(media::probeVideo((dir.path / "pipe.mp4").string(), v));

  // A Matroska length of 10^30 ms is a damaged header's: no duration.
  std::string mkv = fileBytes(videos() / "film.mkv");
  size_t at = mkv.find("\x44\x89\x88", 0, 3);
  ASSERT_NE(at, std::string::npos);
  double huge = 1e30;
  char be[8];
  std::memcpy(be, &huge, 8);
  for (int i = 0; i < 8; ++i) mkv[at + 3 + i] = be[7 - i];
  writeBytes(dir.path / "huge.mkv", mkv);
  ASSERT_TRUE(media::probeVideo((dir.path / "huge.mkv").string(), v));
  EXPECT_EQ(v.seconds, 0);
  EXPECT_EQ(v.videoCodec, "h264");

  // Cut short and damaged at random: every probe ends within its time
  // limit and within the bytes given (the sanitizers watch the rest).
  std::mt19937 random(7);
  for (const Sample& s : kSamples) {
    std::string bytes = fileBytes(videos() / s.name);
    for (int round = 0; round < 12; ++round) {
      std::string damaged = bytes.substr(0, round < 4 ? bytes.size() * (round + 1) / 5 : bytes.size());
      for (int flips = 0; round >= 4 && flips < 40; ++flips) {
        damaged[random() % damaged.size()] = static_cast<char>(random());
      }
      auto one = std::chrono::steady_clock::now();
      media::probeVideoBytes(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size(), v);
      EXPECT_LT(std::chrono::steady_clock::now() - one, std::chrono::milliseconds(media::kProbeMilliseconds + 2000))
          << s.name << " round " << round;
    }
  }
}

TEST_F(Video, AScanRecordsShowsAndSearchesVideos) {
  TempDir dir;
  fs::path folder = dir.path / "Films";
  fs::create_directories(folder);
  fs::copy_file(videos() / "tagged.mp4", folder / "tagged.mp4");
  fs::copy_file(videos() / "film.mkv", folder / "film.mkv");
  // A Matroska file under a text file's name is not probed; zeros under a
  // video's name are not handed to the container readers.
  fs::copy_file(videos() / "film.mkv", folder / "notes.txt");
  writeBytes(folder / "zeros.mp4", std::string(5000, '\0'));
  std::string cli = tamberCli() + " -L " + shellQuote((dir.path / "l.cds").string()) + " --config " +
                    shellQuote((dir.path / "config").string()) + " ";
  ASSERT_EQ(runCommand(cli + "new " + shellQuote((dir.path / "l.cds").string())).status, 0);
  auto r = runCommand(cli + "add-folder -q " + shellQuote(folder.string()) + " --category Videos --label Shelf");
  ASSERT_EQ(r.status, 0) << r.out;

  r = runCommand(cli + "ls --json Videos/Shelf/tagged.mp4", false);
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* expected :
       {"\"container\":\"mov,mp4,m4a,3gp,3g2,mj2\"", "\"videoCodec\":\"h264\"", "\"width\":176", "\"height\":144",
        "\"frameRate\":\"25\"", "\"audioTracks\":\"aac 1ch eng; aac 1ch fra\"", "\"title\":\"Ünïcode title\"",
        "\"artist\":\"The Artist\"", "\"date\":\"2021\"", "\"comment\":\"A comment\"", "\"durationText\":\"00:01\""}) {
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << " in " << r.out;
  }
  r = runCommand(cli + "ls -l Videos/Shelf/film.mkv", false);
  EXPECT_NE(r.out.find("subtitles: ger"), std::string::npos) << r.out;
  for (const char* plain : {"notes.txt", "zeros.mp4"}) {
    r = runCommand(cli + "ls --json Videos/Shelf/" + plain, false);
    EXPECT_EQ(r.out.find("videoCodec"), std::string::npos) << r.out;
  }

  // A video's fields are found with the videos' kind, its artist too;
  // with the tags alone (an audio file's artist) it is not.
  r = runCommand(cli + "find spa --kinds videos", false);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("film.mkv"), std::string::npos);
  EXPECT_EQ(r.out.find("notes.txt"), std::string::npos);
  r = runCommand(cli + "find 'The Artist' --kinds videos --json", false);
  EXPECT_NE(r.out.find("tagged.mp4"), std::string::npos) << r.out;
  EXPECT_EQ(runCommand(cli + "find 'The Artist' --kinds tags").status, 1);
  // The index and the listing give the same rows.
  EXPECT_EQ(runCommand(cli + "find h264 --no-index", false).out, runCommand(cli + "find h264", false).out);

  // Without tags, no video is opened.
  ASSERT_EQ(runCommand(cli + "add-folder -q --no-tags " + shellQuote(folder.string()) +
                       " --category Videos --label Bare").status, 0);
  r = runCommand(cli + "ls --json Videos/Bare/film.mkv", false);
  EXPECT_EQ(r.out.find("videoCodec"), std::string::npos) << r.out;

  // A frame near the start is the video's thumbnail, made as a picture's
  // is (64 pixels on the longer side); --no-thumbnails makes none.
  r = runCommand(cli + "ls --json Videos/Shelf/film.mkv", false);
  EXPECT_NE(r.out.find("\"thumbnail\":true"), std::string::npos) << r.out;
  r = runCommand(cli + "thumb Videos/Shelf/film.mkv -o " + shellQuote((dir.path / "t.png").string()));
  ASSERT_EQ(r.status, 0) << r.out;
  r = runCommand("identify -format '%m %w %h' " + shellQuote((dir.path / "t.png").string()), false);
  EXPECT_EQ(r.out, "PNG 64 53");
  // Not a black or grey frame: the test picture's colour bars.
  r = runCommand("convert " + shellQuote((dir.path / "t.png").string()) + " -colorspace HSL -format '%[fx:mean.g]' info:",
                 false);
  EXPECT_GT(std::atof(r.out.c_str()), 0.2) << r.out;
  ASSERT_EQ(runCommand(cli + "add-folder -q --no-thumbnails " + shellQuote(folder.string()) +
                       " --category Videos --label Plain").status, 0);
  r = runCommand(cli + "ls --json Videos/Plain/film.mkv", false);
  EXPECT_EQ(r.out.find("\"thumbnail\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"videoCodec\":\"h264\""), std::string::npos) << r.out;

  // media --json says what the scan records.
  r = runCommand(tamberCli() + " media --json " + shellQuote((folder / "film.mkv").string()), false);
  EXPECT_NE(r.out.find("\"kind\":\"video\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"audio\":[{\"codec\":\"ac3\",\"channels\":6,\"language\":\"spa\"}]"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"subtitles\":[\"ger\"]"), std::string::npos) << r.out;
  r = runCommand(tamberCli() + " media --json --thumbnail " + shellQuote((dir.path / "m.jpg").string()) +
                     " " + shellQuote((folder / "tagged.mp4").string()),
                 false);
  EXPECT_NE(r.out.find("\"thumbnailWidth\":64,\"thumbnailHeight\":53"), std::string::npos) << r.out;
  EXPECT_EQ(runCommand("identify -format '%m' " + shellQuote((dir.path / "m.jpg").string()), false).out, "JPEG");

  // As text, each property under the name the property page gives it, in
  // the user's language.
  for (auto [lang, lines] :
       {std::pair<const char*, std::vector<std::string>>{
            "C.UTF-8", {"\n  Video codec: h264\n", "\n  Audio tracks: ac3 6ch spa\n", "\n  Subtitles: ger\n"}},
        {"fr_FR.UTF-8", {"\n  Codec vidéo\u00A0: h264\n", "\n  Pistes audio\u00A0: ac3 6ch spa\n"}},
        {"it_IT.UTF-8", {"\n  Codec video: h264\n", "\n  Sottotitoli: ger\n"}}}) {
    r = runCommand("LANG=" + std::string(lang) + " LC_ALL= " + tamberCli() + " media " +
                   shellQuote((folder / "film.mkv").string()), false);
    for (const auto& line : lines) EXPECT_NE(r.out.find(line), std::string::npos) << lang << line << r.out;
    EXPECT_EQ(r.out.find("videoCodec"), std::string::npos) << r.out;
  }
}

TEST_F(Video, ADvdVideoFolderGivesItsTitles) {
  TempDir dir;
  // Two titles in one title set: 4 s in four chapters with English sound,
  // and 2 s in one chapter.
  for (const auto& [name, seconds] : {std::pair{"a.mpg", "4"}, std::pair{"b.mpg", "2"}}) {
    auto r = runCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=720x576:rate=25:duration=" +
                        std::string(seconds) + " -f lavfi -i sine=duration=" + seconds + " -target pal-dvd " +
                        shellQuote((dir.path / name).string()));
    ASSERT_EQ(r.status, 0) << r.out;
  }
  fs::path disc = dir.path / "Holiday DVD";
  writeBytes(dir.path / "dvd.xml", "<dvdauthor dest=\"" + disc.string() + "\"><vmgm/><titleset><titles>"
             "<audio lang=\"en\"/><pgc><vob file=\"" + (dir.path / "a.mpg").string() +
             "\" chapters=\"0,0:01,0:02,0:03\"/></pgc><pgc><vob file=\"" + (dir.path / "b.mpg").string() +
             "\"/></pgc></titles></titleset></dvdauthor>");
  auto r = runCommand("VIDEO_FORMAT=PAL dvdauthor -x " + shellQuote((dir.path / "dvd.xml").string()));
  ASSERT_EQ(r.status, 0) << r.out;

  std::vector<media::DvdTitle> titles;
  std::string why;
  ASSERT_TRUE(media::readDvdTitles((disc / "VIDEO_TS").string(), titles, &why)) << why;
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0].chapters, 4);
  EXPECT_NEAR(titles[0].seconds, 4, 1);
  EXPECT_EQ(titles[0].audioLanguages, std::vector<std::string>{"en"});
  EXPECT_EQ(titles[1].chapters, 1);
  EXPECT_NEAR(titles[1].seconds, 2, 1);
  std::string text = media::dvdTitlesText(titles);
  // The folder holding VIDEO_TS names the same titles; a folder without
  // one names none.
  ASSERT_TRUE(media::readDvdTitles(disc.string(), titles));
  EXPECT_EQ(media::dvdTitlesText(titles), text);
  EXPECT_FALSE(media::readDvdTitles(dir.path.string(), titles, &why));

  // A scan records them on VIDEO_TS.IFO, where ls, find and media show
  // them; the title set's VOB is a video of its own.
  std::string cli = tamberCli() + " -L " + shellQuote((dir.path / "l.cds").string()) + " --config " +
                    shellQuote((dir.path / "config").string()) + " ";
  ASSERT_EQ(runCommand(cli + "new " + shellQuote((dir.path / "l.cds").string())).status, 0);
  r = runCommand(cli + "add-folder -q " + shellQuote(disc.string()) + " --category Discs --label Holiday");
  ASSERT_EQ(r.status, 0) << r.out;
  r = runCommand(cli + "ls --json Discs/Holiday/VIDEO_TS/VIDEO_TS.IFO", false);
  EXPECT_NE(r.out.find("\"dvdTitles\":\"" + text + "\""), std::string::npos) << r.out;
  EXPECT_NE(text.find("1: 00:00:0"), std::string::npos) << text;
  EXPECT_NE(text.find(", 4 chapters, en; 2: "), std::string::npos) << text;
  r = runCommand(cli + "ls --json Discs/Holiday/VIDEO_TS/VTS_01_1.VOB", false);
  EXPECT_NE(r.out.find("\"container\":\"mpeg\""), std::string::npos) << r.out;
  r = runCommand(cli + "find '4 chapters' --kinds videos", false);
  EXPECT_NE(r.out.find("VIDEO_TS.IFO"), std::string::npos) << r.out;
  r = runCommand(tamberCli() + " media --json " + shellQuote((disc / "VIDEO_TS" / "VIDEO_TS.IFO").string()),
                 false);
  EXPECT_NE(r.out.find("\"kind\":\"dvd-video\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"chapters\":4,\"angles\":1,\"audioLanguages\":[\"en\"]"), std::string::npos) << r.out;
  // The counts are said in the user's language, though recorded in English.
  r = runCommand("LANG=fr_FR.UTF-8 LC_ALL= " + tamberCli() + " media " +
                     shellQuote((disc / "VIDEO_TS" / "VIDEO_TS.IFO").string()), false);
  EXPECT_NE(r.out.find("DVD-Video, 2 titres\n  1: 00:00:0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(", 4 chapitres, en\n  2: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(", 1 chapitre"), std::string::npos) << r.out;
}

}  // namespace
