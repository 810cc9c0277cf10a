// Payload unpacking against 7zz: generates a payload of mixed binaries and
// text (at least 200 MB), packs it solid with BCJ + LZMA2, builds an
// installer around it and times Out (through the installer's own bundle,
// the way a real run unpacks) against "7zz x" with all its threads and
// "7zz x -mmt1" of the same archive. 7zz packs with all its threads, so a
// block's LZMA2 stream resets its dictionary every few megabytes (4 times
// the dictionary) and both decoders may decode it piece by piece.
// Then a whole silent installation with the real installer program (start-up,
// script, log, Out, the success flow) against "7zz x" of the same archive.
// Prints times, their ratio and peak memory. Everything it makes lives in
// one temporary folder that is removed at the end.
//
// With a solid block size (several blocks), Out decodes them side by side.
// The start-up check of every resource's checksum and lumo-pack's proof are
// timed too.
//
//   payload_bench [DICTIONARY [MEGABYTES [LEVEL [SOLID]]]]
//     DICTIONARY  7zz's dictionary size, default 16m; "level": the level's own
//     MEGABYTES   size of the generated payload, default 230 (at least 200
//                 for the figures that count; smaller for memory checks)
//     LEVEL       7zz's compression level, default 5
//     SOLID       7zz's solid block size (-ms=), default "on": one block
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "commands/families.h"
#include "formats/resource_bundle.h"
#include "platform/text.h"
#include "script/script_engine.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::uint64_t kBinaryBytes = 130ull << 20;
std::uint64_t kTextBytes = 100ull << 20;

struct ChildRun {
  int status = -1;
  double seconds = 0;
  double cpuSeconds = 0;  // user + system
  long maxRssKb = 0;
};

double cpuSecondsOf(const struct rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

ChildRun runChild(const std::vector<std::string>& argv, const std::string& output = "/dev/null") {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ChildRun run;
  auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) return run;
  posix_spawn_file_actions_destroy(&actions);
  struct rusage usage {};
  while (::wait4(pid, &run.status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.maxRssKb = usage.ru_maxrss;
  run.cpuSeconds = cpuSecondsOf(usage);
  return run;
}

long statusField(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::string(field).size(), nullptr, 10);
  return -1;
}

// Real machine code: the system's libraries and programs, as many as fit.
std::uint64_t copyBinaries(const fs::path& into) {
  std::uint64_t total = 0;
  int index = 0;
  for (const char* folder : {"/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/lib", "/usr/libexec"}) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator() && total < kBinaryBytes; it.increment(ec)) {
      if (ec || it->is_symlink() || !it->is_regular_file(ec)) continue;
      std::uint64_t size = it->file_size(ec);
      if (ec || size < 64 * 1024 || size > 16 * 1024 * 1024) continue;
      fs::path target = into / ("bin" + std::to_string(index++ / 200)) / it->path().filename();
      fs::create_directories(target.parent_path());
      if (fs::copy_file(it->path(), target, fs::copy_options::skip_existing, ec)) total += size;
    }
  }
  return total;
}

// Text that compresses like documentation and logs do, not like one
// repeated line.
std::uint64_t writeText(const fs::path& into) {
  static const char* words[] = {"player", "video", "stream", "codec", "frame", "subtitle", "install", "folder",
                                "network", "buffer", "the", "of", "and", "to", "in", "is", "for", "with", "视频",
                                "播放", "设置", "文件", "音频", "字幕", "error", "warning", "0x1F", "2026-12-08"};
  std::mt19937 random(12345);
  std::uint64_t total = 0;
  for (int file = 0; total < kTextBytes; ++file) {
    fs::path path = into / ("text" + std::to_string(file / 100)) / ("doc" + std::to_string(file) + ".txt");
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    std::string chunk;
    std::size_t size = 1000 + random() % (2 << 20);
    while (chunk.size() < size) {
      chunk += words[random() % std::size(words)];
      chunk += random() % 12 == 0 ? "\n" : " ";
      if (random() % 40 == 0) chunk += std::to_string(random());
    }
    out << chunk;
    total += chunk.size();
  }
  return total;
}

std::uint64_t treeBytes(const fs::path& root) {
  std::uint64_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) total += entry.file_size();
  return total;
}

bool sameTrees(const fs::path& a, const fs::path& b) {
  for (const auto& entry : fs::recursive_directory_iterator(a)) {
    fs::path other = b / fs::relative(entry.path(), a);
    if (entry.is_directory()) {
      if (!fs::is_directory(other)) return false;
      continue;
    }
    std::ifstream x(entry.path(), std::ios::binary), y(other, std::ios::binary);
    if (!y) return false;
    std::vector<char> bx(1 << 20), by(1 << 20);
    for (;;) {
      x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
      y.read(by.data(), static_cast<std::streamsize>(by.size()));
      if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) return false;
      if (!x) break;
    }
  }
  return true;
}

// A whole silent run of the installer program in a sandbox: the script
// unpacks the payload and ends the run the way the default script does.
bool installEndToEnd(const fs::path& work, const fs::path& archive) {
  const fs::path box = work / "sandbox";
  for (const char* folder : {"sys", "home", "tmp", "run"}) fs::create_directories(box / folder);
  const std::string script =
      "[var]\r\nmsg_complete=安装完成\r\nmsg_close=正在关闭\r\n"
      "[install]\r\n#Out $INSTALL\r\n#NotifyOK\r\n"
      "[installok]\r\n#Notify @msg_complete|100\r\n";
  std::ofstream(work / "install.ini", std::ios::binary) << lumo::utf8ToGbk(script);
  const fs::path installer = work / "LumoInstaller";
  ChildRun pack = runChild({std::string(LUMO_BUILD_DIR) + "/lumo-pack",
                            std::string(LUMO_BUILD_DIR) + "/lumo-installer-program", "-o", installer.string(),
                            "--incomplete", "--set",
                            "INI:800=" + (work / "install.ini").string(), "--set", "DATA:900=" + archive.string()});
  if (pack.status != 0) throw std::runtime_error("lumo-pack could not build the installer");
  ::setenv("LUMO_SYSROOT", (box / "sys").c_str(), 1);
  ::setenv("HOME", (box / "home").c_str(), 1);
  ::setenv("TMPDIR", (box / "tmp").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (box / "run").c_str(), 1);
  ::setenv("LUMO_STATS_URL", "http://127.0.0.1:1", 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");

  double bestInstall = 1e9, bestSevenZip = 1e9;
  long installRss = 0;
  for (int round = 1; round <= 3; ++round) {
    fs::remove_all(box / "sys");
    fs::remove_all(work / "by-7zz");
    ::sync();
    ChildRun sevenZip = runChild({LUMO_7ZZ, "x", "-y", "-o" + (work / "by-7zz").string(), archive.string()});
    ::sync();
    std::ofstream("/proc/self/clear_refs") << "5";
    ChildRun install = runChild({installer.string(), "/s"});
    bool ok = WIFEXITED(install.status) && WEXITSTATUS(install.status) == 0 &&
              sameTrees(work / "by-7zz", box / "sys/opt/Vexta");
    std::printf("round %d: 7zz x %.2f s, silent installation %.2f s (peak %ld MB)%s\n", round, sevenZip.seconds,
                install.seconds, install.maxRssKb / 1024, ok ? "" : " FAILED");
    if (!ok) return false;
    bestInstall = std::min(bestInstall, install.seconds);
    bestSevenZip = std::min(bestSevenZip, sevenZip.seconds);
    installRss = std::max(installRss, install.maxRssKb);
  }
  std::printf("end to end: best 7zz x %.2f s, best silent installation %.2f s, ratio %.2f, installer peak %.1f MB\n",
              bestSevenZip, bestInstall, bestInstall / bestSevenZip, installRss / 1024.0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dictionary = argc > 1 ? argv[1] : "16m";
  if (argc > 2) {
    std::uint64_t megabytes = std::strtoull(argv[2], nullptr, 10);
    kBinaryBytes = (megabytes * 13 / 23) << 20;
    kTextBytes = (megabytes * 10 / 23) << 20;
  }
  std::string level = argc > 3 ? argv[3] : "5";
  std::string solid = argc > 4 ? argv[4] : "on";
  const bool oneBlock = solid == "on";
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumo-payload-bench-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  fs::path work = pattern;
  int exitCode = 0;
  try {
    fs::path source = work / "source";
    std::uint64_t binaries = copyBinaries(source / "bin");
    std::uint64_t text = writeText(source / "doc");
    std::printf("payload: %.1f MB binaries + %.1f MB text in %zu files\n", binaries / 1048576.0, text / 1048576.0,
                static_cast<std::size_t>(std::distance(fs::recursive_directory_iterator(source),
                                                       fs::recursive_directory_iterator())));

    fs::path archive = work / "payload.7z";
    auto packStart = Clock::now();
    ChildRun pack = runChild({LUMO_7ZZ, "a", "-t7z", "-m0=BCJ", dictionary == "level" ? "-m1=LZMA2" : "-m1=LZMA2:d=" + dictionary, "-ms=" + solid,
                              "-mx=" + level, "-mmt=on", archive.string(), (source / ".").string()});
    if (pack.status != 0) throw std::runtime_error("7zz could not pack the payload");
    std::printf("archive: %.1f MB, BCJ + LZMA2, dictionary %s, solid, packed in %.1f s\n",
                fs::file_size(archive) / 1048576.0, dictionary.c_str(),
                std::chrono::duration<double>(Clock::now() - packStart).count());

    // How many solid blocks 7zz made ("Blocks = N" in its technical listing).
    runChild({LUMO_7ZZ, "l", "-slt", archive.string()}, (work / "listing.txt").string());
    std::ifstream listing(work / "listing.txt");
    for (std::string line; std::getline(listing, line);)
      if (line.rfind("Blocks = ", 0) == 0) std::printf("solid blocks: %s\n", line.c_str() + 9);

    fs::path installer = work / "installer";
    ChildRun bundle = runChild({std::string(LUMO_BUILD_DIR) + "/lumo-pack", "/bin/true", "-o", installer.string(),
                                "--set", "DATA:900=" + archive.string()});
    if (bundle.status != 0) throw std::runtime_error("lumo-pack could not build the installer");
    std::printf("lumo-pack with its proof of the payload: %.2f s (cpu %.2f s, peak %ld MB)\n", bundle.seconds,
                bundle.cpuSeconds, bundle.maxRssKb / 1024);
    lumo::Result<lumo::ResourceBundle> checked = lumo::ResourceBundle::open(installer.string());
    if (!checked) throw std::runtime_error(checked.why());
    {
      // The start-up check, with the installer in the page cache.
      double best = 1e9;
      for (int round = 0; round < 5; ++round) {
        auto start = Clock::now();
        if (!checked->verifyAll()) throw std::runtime_error("the installer fails its own checksums");
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
      }
      std::printf("start-up check of every resource (%.1f MB): best %.3f s (target < 0.3 s for 200 MB)\n",
                  fs::file_size(installer) / 1048576.0, best);
    }
    lumo::commands::registerCommandFamilies();
    // Out unpacks the installer's payload, given in its context.
    auto out = [&checked](const std::string& folder) {
      const lumo::CommandContext own = lumo::currentCommandContext();
      lumo::callCommand(
          lumo::CommandContext{own.environment, own.variables, own.host, own.installFolder, own.log, *checked}, "Out",
          folder);
    };

    // The machine may be shared: wall-clock times vary with the load, CPU
    // times (user + system) much less. Both are shown, best of three rounds.
    double bestOut = 1e9, bestSevenZip = 1e9, bestOutCpu = 1e9, bestSevenZipCpu = 1e9, bestOneThread = 1e9;
    long sevenZipRss = 0, outPeak = 0, oneThreadRss = 0;
    long rssBefore = statusField("VmRSS:");
    for (int round = 1; round <= 3; ++round) {
      fs::remove_all(work / "by-7zz");
      fs::remove_all(work / "by-out");
      ::sync();
      // A spawned child's peak starts from this process's peak (they share
      // memory until the exec), so forget ours first.
      std::ofstream("/proc/self/clear_refs") << "5";
      ChildRun oneThread =
          runChild({LUMO_7ZZ, "x", "-mmt1", "-y", "-o" + (work / "by-7zz").string(), archive.string()});
      fs::remove_all(work / "by-7zz");
      ::sync();
      std::ofstream("/proc/self/clear_refs") << "5";
      ChildRun sevenZip = runChild({LUMO_7ZZ, "x", "-y", "-o" + (work / "by-7zz").string(), archive.string()});
      if (sevenZip.status != 0 || oneThread.status != 0) throw std::runtime_error("7zz could not unpack the payload");
      ::sync();

      // Forget the peak so far; VmHWM then measures Out alone.
      std::ofstream("/proc/self/clear_refs") << "5";
      struct rusage before {}, after {};
      ::getrusage(RUSAGE_SELF, &before);
      auto start = Clock::now();
      out((work / "by-out").string());
      double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      ::getrusage(RUSAGE_SELF, &after);
      double cpu = cpuSecondsOf(after) - cpuSecondsOf(before);
      long peak = statusField("VmHWM:");
      std::printf("round %d: 7zz x -mmt1 %.2f s (peak %ld MB), 7zz x %.2f s (cpu %.2f s, peak %ld MB), "
                  "Out %.2f s (cpu %.2f s, peak %ld MB)\n",
                  round, oneThread.seconds, oneThread.maxRssKb / 1024, sevenZip.seconds, sevenZip.cpuSeconds,
                  sevenZip.maxRssKb / 1024, seconds, cpu, peak / 1024);
      bestOneThread = std::min(bestOneThread, oneThread.seconds);
      oneThreadRss = std::max(oneThreadRss, oneThread.maxRssKb);
      bestOut = std::min(bestOut, seconds);
      bestSevenZip = std::min(bestSevenZip, sevenZip.seconds);
      bestOutCpu = std::min(bestOutCpu, cpu);
      bestSevenZipCpu = std::min(bestSevenZipCpu, sevenZip.cpuSeconds);
      sevenZipRss = std::max(sevenZipRss, sevenZip.maxRssKb);
      outPeak = std::max(outPeak, peak);
    }
    bool same = sameTrees(work / "by-7zz", work / "by-out") && sameTrees(work / "by-out", work / "by-7zz");
    std::printf("unpacked %.1f MB; trees %s\n", treeBytes(work / "by-out") / 1048576.0,
                same ? "identical" : "DIFFER");
    std::printf("best wall: 7zz x %.2f s, 7zz x -mmt1 %.2f s, Out %.2f s, ratios %.2f and %.2f (target <= %s)\n",
                bestSevenZip, bestOneThread, bestOut, bestOut / bestSevenZip, bestOut / bestOneThread,
                oneBlock ? "1.0 against all threads" : "0.6 against all threads");
    std::printf("best cpu:  7zz %.2f s, Out %.2f s, ratio %.2f\n", bestSevenZipCpu, bestOutCpu,
                bestOutCpu / bestSevenZipCpu);
    std::printf("peak memory: Out %.1f MB (resident before Out %.1f MB), 7zz x %.1f MB, 7zz x -mmt1 %.1f MB\n",
                outPeak / 1024.0, rssBefore / 1024.0, sevenZipRss / 1024.0, oneThreadRss / 1024.0);
    if (!same) exitCode = 1;
    if (oneBlock && !installEndToEnd(work, archive)) exitCode = 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "payload_bench: %s\n", error.what());
    exitCode = 1;
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  return exitCode;
}
