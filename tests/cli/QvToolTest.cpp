// End-to-end runs of the built qvtool against the simulated device: what a script or a person at
// a terminal gets, and what ends up in the simulated flash (kept in a flash file).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/ToolRunner.h"
#include "util/Text.h"

namespace qv::test {
namespace {

TEST_F(QvTool, UpdateWritesTheImageOnEveryFlashChipFromHexAndBinFiles) {
  struct Case {
    const char* flash;
    const char* file;
    const char* chipId;
  };
  const Case cases[] = {
      {"EF4013", "fw.bin", "0xEF,  0x40,  0x13,  "},  // 256-byte pages
      {"C22213", "fw.hex", "0xC2,  0x22,  0x13,  "},  // 32-byte pages
      {"C22013", "FW.HEX", "0xC2,  0x20,  0x13,  "},  // the extension in any case
      {"BF258D", "fw.bin", "0xBF,  0x25,  0x8D,  "},  // word program
  };
  const std::string image = Firmware();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flash);
    Remove("flash.bin");
    const std::string file = c.file;
    Write(file, file.ends_with("bin") ? image : AsHex(image));
    const std::string setup = Sim(std::string("flash=") + c.flash);

    const ToolRun update = Tool({setup, "update", "--yes", file});
    EXPECT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_CONTAINS(update.out, "Firmware update success!\n");
    EXPECT_CONTAINS(update.out, "modelled device time ");
    EXPECT_TRUE(Flash() == Flashed(image));

    const ToolRun verify = Tool({setup, "verify", file});
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    EXPECT_CONTAINS(verify.out, "Verifying Success\n");
    EXPECT_TRUE(Tool({setup, "chip-id"}).out.starts_with(std::string(c.chipId) + "\nflash: "));
  }
}

TEST_F(QvTool, PlainOutputNamesEveryStepOnceInOrder) {
  Write("fw.bin", Firmware(1000));
  const ToolRun run = Tool({Sim(), "update", "-y", "fw.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_CONTAINS(run.out,
                  "Enter ISP Mode\nClear Status register\nFlash Erase All\nStart Blanking Check\n"
                  "Blanking Success\nStart Programming\nProgramming Success\n"
                  "Start Verifying Check\nVerifying Success\nFirmware update success!\n");
  EXPECT_EQ(run.out.find('\r'), std::string::npos);  // no bar redrawing into a pipe
}

TEST_F(QvTool, RefusedFilesSendNothingAndExitWithTwo) {
  struct Case {
    const char* name;
    std::string contents;
    const char* message;
    std::vector<const char*> commands = {"update", "verify"};
  };
  const Case cases[] = {
      {"bad.hex", ":0400000001020304F1\r\n:00000001FF\r\n", "bad.hex, line 1"},
      {"empty.hex", ":00000001FF\r\n", "empty.hex: the file holds no data to program"},
      {"empty.bin", "", "empty.bin: the file holds no data to program"},
      // verify takes a larger binary for a backup of the whole flash.
      {"huge.bin",
       std::string(0x40001, 'x'),
       "huge.bin: the file is larger than the 256 KiB firmware image",
       {"update"}},
  };
  const std::string before = Flashed("flash before");
  Write("flash.bin", before);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, c.contents);
    for (const char* command : c.commands) {
      const ToolRun run = Tool({Sim(), "-v", command, "--yes", c.name});
      EXPECT_EQ(run.status, 2);
      EXPECT_CONTAINS(run.err, c.message);
      // -v would have logged any request, the probe included.
      EXPECT_EQ(run.err.find(" ok\n"), std::string::npos) << run.err;
      EXPECT_TRUE(Flash() == before);
    }
  }
  const ToolRun missing = Tool({Sim(), "update", "--yes", "missing.bin"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_CONTAINS(missing.err, "'missing.bin' does not exist");
}

TEST_F(QvTool, ThreeFailedAttemptsExitWithOneAndTheFailureTexts) {
  struct Case {
    const char* setup;
    const char* failure;
  };
  const Case cases[] = {
      {"flip-reads=1", "Blanking Fail at 0x"},  // every read has a flipped bit
      // A flash stuck busy answers its identification with FF FF FF: only --force goes on.
      {"stuck-busy=1", "Erase Flash Fail\n"},
  };
  Write("fw.bin", Firmware(2000));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    const ToolRun run = Tool({Sim(c.setup), "update", "--yes", "--force", "fw.bin"});
    EXPECT_EQ(run.status, 1);
    EXPECT_CONTAINS(run.out, c.failure);
    std::size_t retries = 0;
    for (std::size_t at = 0; (at = run.out.find("ISP Fail and retry", at)) != std::string::npos;
         ++at)
      ++retries;
    EXPECT_EQ(retries, 3u);
    EXPECT_CONTAINS(run.out, "ISP Fail and retry\nFirmware update Fail!\nmodelled device time ");
  }
}

TEST_F(QvTool, AnUnconfirmedUpdateSendsNothingToTheFlash) {
  Write("fw.bin", Firmware(1000));
  const std::string before = Flashed("flash before");
  Write("flash.bin", before);
  // Standard input here is never a terminal: even a "y" on it is no answer.
  for (const char* input : {"", "y\n"}) {
    const ToolRun run = Tool({Sim(), "-v", "update", "fw.bin"}, input);
    EXPECT_EQ(run.status, 1);
    EXPECT_CONTAINS(run.out, "Firmware Update is a critical operation.");
    EXPECT_CONTAINS(run.out, "Proceed? [y/N]");
    EXPECT_CONTAINS(run.out, "Abort Firmware update process\n");
    EXPECT_EQ(run.err, "PROBE property set support ok\n");  // the probe and nothing else
    EXPECT_TRUE(Flash() == before);
  }
}

TEST_F(QvTool, ChoosesADeviceOnlyWhenItIsUnambiguous) {
  Write("fw.bin", Firmware(1000));
  struct Case {
    const char* models;
    std::vector<std::string> device;  // --device and its value, or nothing
    int status;
    const char* message;  // in standard error, or the device line of the update
  };
  const Case cases[] = {
      {"Brevanto_RX1,Brevanto_RX2", {}, 2, "2 devices are present; choose one with --device"},
      {"Brevanto_RX1,update-e6a4", {}, 2, "Firmware update device E6A4  vid_e6a4&pid_6000"},
      {"Brevanto_RX1,Brevanto_RX1", {"--device", "vid_e5d3&pid_7a01"}, 2, "2 devices"},
      {"Brevanto_RX1,Brevanto_RX2", {"--device", "E5D3:7A02"}, 0, "Device: Brevanto RX2  "},
      {"Brevanto_RX1,Brevanto_RX1", {"--device", "0&3#"}, 0, "&0&3#{7e2c4d91"},
      {"Brevanto_RX1,update-e7b2", {"--device", "vid_e7b2&pid_6000"}, 0, "vendor driver"},
      {"Brevanto_RX5", {}, 0, "Device: Brevanto RX5  vid_e5d3&pid_7a07  audio driver"},
      {"Brevanto_RX1", {"--device", "e5d3:7a02"}, 3, "No device matches 'e5d3:7a02'"},
      {"none", {}, 3, "No device found."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.models);
    std::vector<std::string> args = {Sim(std::string("model=") + c.models)};
    args.insert(args.end(), c.device.begin(), c.device.end());
    args.insert(args.end(), {"update", "--yes", "fw.bin"});
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_CONTAINS(c.status == 0 ? run.out : run.err, c.message);
    if (c.status != 0) {
      EXPECT_EQ(run.out, "");
    }
  }
}

TEST_F(QvTool, UpdateAllWritesTheImageIntoEachDevicesOwnFlashFile) {
  const std::string image = Firmware(2000);
  Write("Brevanto_RX1.bin", image);
  const ToolRun run =
      Tool({"--simulate=model=Brevanto_RX1,Brevanto_RX2,Brevanto_RX1;flash-file=a.bin,b.bin,c.bin",
            "--json", "update", "--all", "--yes", "Brevanto_RX1.bin"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Read("a.bin") == Flashed(image));
  EXPECT_TRUE(Read("c.bin") == Flashed(image));
  EXPECT_FALSE(Read("b.bin") == Flashed(image));  // another model's device
  const auto document = nlohmann::json::parse(run.out);
  ASSERT_EQ(document["devices"].size(), 2u);
  EXPECT_EQ(document["devices"][1]["label"], "Brevanto RX1 5&2c3d4e5f&0&4");
  EXPECT_EQ(document["devices"][1]["result"], "success");
  EXPECT_EQ(document["result"], "2 of 2 devices updated");
}

TEST_F(QvTool, ReadsBackAsTheWindowsTextDumpOrAsRawBytes) {
  const std::string image = Firmware(3000);
  Write("fw.bin", image);
  ASSERT_EQ(Tool({Sim(), "update", "--yes", "fw.bin"}).status, 0);

  const ToolRun bin = Tool({Sim(), "read", "--size", "0x100", "--format", "bin", "--out", "r.bin"});
  EXPECT_EQ(bin.status, 0) << bin.err;
  EXPECT_TRUE(Read("r.bin") == image.substr(0, 0x100));

  // The default: 32 KiB as text, to standard output, with the progress on standard error.
  const ToolRun text = Tool({Sim(), "read"});
  EXPECT_EQ(text.status, 0) << text.err;
  std::string expected;
  const std::string flashed = Flashed(image);
  for (std::size_t line = 0; line < 0x8000; line += 16) {
    for (std::size_t i = line; i < line + 16; ++i)
      expected += "0x" + FormatHex(static_cast<std::uint8_t>(flashed[i]), 2) + ", ";
    expected += '\r';
  }
  EXPECT_TRUE(text.out == expected);
  EXPECT_CONTAINS(text.err, "Read Flash content Success\n");

  // A size that is not whole lines is read up to the end of its last line.
  EXPECT_EQ(Tool({Sim(), "read", "--size", "20", "--out", "r.txt"}).status, 0);
  EXPECT_TRUE(Read("r.txt") == expected.substr(0, 2 * (16 * 6 + 1)));

  const ToolRun flipped = Tool({Sim("flip-reads=2"), "read", "--out", "r.txt"});
  EXPECT_EQ(flipped.status, 1);
  EXPECT_CONTAINS(flipped.out, "Verifying Fail at 0x");
}

TEST_F(QvTool, EraseLeavesTheFlashBlankAndVerifyFindsTheDifference) {
  const std::string image = Firmware(5000);
  Write("fw.bin", image);
  ASSERT_EQ(Tool({Sim(), "update", "--yes", "fw.bin"}).status, 0);
  EXPECT_EQ(Tool({Sim(), "blank-check", "--size", "4096"}).status, 1);

  const ToolRun erase = Tool({Sim(), "erase", "--yes"});
  EXPECT_EQ(erase.status, 0) << erase.out << erase.err;
  EXPECT_TRUE(Flash() == std::string(kFlashSize, '\xFF'));
  EXPECT_EQ(Tool({Sim(), "blank-check"}).status, 0);

  const ToolRun verify = Tool({Sim(), "verify", "fw.bin"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_CONTAINS(verify.out, "Verifying Fail at 0x000000\n");
  // The erase protected the flash again: an update still works, it clears the protection first.
  EXPECT_EQ(Tool({Sim(), "update", "--yes", "fw.bin"}).status, 0);
}

TEST_F(QvTool, AFilesContentsDecideHowItIsRead) {
  const std::string image = Firmware(3000);
  // HEX text under a name that is not .hex: read as HEX, never programmed as characters.
  Write("fw.ihx", AsHex(image));
  const ToolRun hex = Tool({Sim(), "update", "--yes", "fw.ihx"});
  EXPECT_EQ(hex.status, 0) << hex.err;
  EXPECT_CONTAINS(hex.out, "fw.ihx holds Intel HEX text: read as Intel HEX\n");
  EXPECT_TRUE(Flash() == Flashed(image));
  // A binary image stays binary whatever its first byte, and so does text that is no HEX.
  for (const std::string& bytes : {":" + image, std::string("notes: not firmware\n")}) {
    Write("fw.img", bytes);
    const ToolRun bin = Tool({Sim(), "update", "--yes", "fw.img"});
    EXPECT_EQ(bin.status, 0) << bin.err;
    EXPECT_EQ(bin.out.find("Intel HEX"), std::string::npos);
    EXPECT_TRUE(Flash() == Flashed(bytes));
  }
}

TEST_F(QvTool, AFileNamedForAnotherModelNeedsForce) {
  const std::string image = Firmware(1000);
  struct Case {
    const char* name;
    bool refused;
  };
  const Case cases[] = {
      {"Brevanto_RX2.bin", true},
      {"brevanto_rx1p.bin", true},  // the longest stem decides: RX1 PLUS, not RX1
      {"Brevanto_RX1.bin", false},
      {"BREVANTO_RX1_v2.bin", false},
      {"firmware.bin", false},  // no model named: accepted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, image);
    const ToolRun run = Tool({Sim(), "-v", "update", "--yes", c.name});
    EXPECT_EQ(run.status, c.refused ? 2 : 0) << run.err;
    if (c.refused) {
      EXPECT_CONTAINS(run.err, "but the device is a Brevanto RX1");
      EXPECT_CONTAINS(run.err, "Pass --force");
      EXPECT_EQ(run.err.find(" ok\n"), std::string::npos);  // not even the probe was sent
      EXPECT_EQ(Tool({Sim(), "update", "--yes", "--force", c.name}).status, 0);
    }
  }
}

TEST_F(QvTool, EraseAsksFirstAndAFailedReadLeavesTheOldFile) {
  Write("fw.bin", Firmware(2000));
  ASSERT_EQ(Tool({Sim(), "update", "--yes", "fw.bin"}).status, 0);
  const std::string flashed = Flash();
  const ToolRun unconfirmed = Tool({Sim(), "-v", "erase"}, "y\n");
  EXPECT_EQ(unconfirmed.status, 1);
  EXPECT_CONTAINS(unconfirmed.out, "Proceed? [y/N]");
  EXPECT_CONTAINS(unconfirmed.out, "Erase not confirmed: nothing was sent.");
  EXPECT_EQ(unconfirmed.err, "PROBE property set support ok\n");
  EXPECT_TRUE(Flash() == flashed);

  Write("r.txt", "an earlier dump");
  const ToolRun failed = Tool({Sim("flip-reads=2"), "read", "--out", "r.txt"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_CONTAINS(failed.err, "nothing was written, 'r.txt' is as it was");
  EXPECT_EQ(Read("r.txt"), "an earlier dump");
  const ToolRun toStdout = Tool({Sim("flip-reads=2"), "read"});
  EXPECT_EQ(toStdout.status, 1);
  EXPECT_EQ(toStdout.out, "");  // no filler passing for flash contents
}

TEST_F(QvTool, DevicesAreNamedAsListShowsThemInAnyCase) {
  Write("fw.bin", Firmware(500));
  struct Case {
    const char* models;
    const char* device;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"Brevanto_RX1,Brevanto_RX2", "Brevanto RX2", 0, "Device: Brevanto RX2  "},
      {"Brevanto_RX1,Brevanto_RX2", "brevanto rx2", 0, "Device: Brevanto RX2  "},
      {"Brevanto_RX1,Brevanto_RX2", "VID_E5D3&PID_7A02", 0, "Device: Brevanto RX2  "},
      {"Brevanto_RX5,Brevanto_RX1", "Brevanto RX5", 0, "Device: Brevanto RX5  "},
      // Two of one model: each listed with what tells it apart.
      {"Brevanto_RX1,Brevanto_RX1", "Brevanto RX1", 2, "2 devices match; choose one with --device"},
      {"Brevanto_RX1,Brevanto_RX1", "Brevanto RX1", 2, "\n    --device '5&2c3d4e5f&0&3'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.models) + " / " + c.device);
    const ToolRun run = Tool({Sim(std::string("model=") + c.models), "--device", c.device, "update",
                              "--yes", "--force", "fw.bin"});
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_CONTAINS(c.status == 0 ? run.out : run.err, c.message);
  }
  // What the listing suggests works.
  const ToolRun chosen = Tool({Sim("model=Brevanto_RX1,Brevanto_RX1"), "--device", "5&2c3d4e5f&0&3",
                               "update", "--yes", "fw.bin"});
  EXPECT_EQ(chosen.status, 0) << chosen.err;
}

// Runs a shell script and returns what it printed.
std::string Shell(const std::string& script) {
  FILE* pipe = popen(("bash -c " + Quote(script)).c_str(), "r");
  if (!pipe) return "popen failed";
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  pclose(pipe);
  return output;
}

TEST_F(QvTool, ASecondCtrlCEndsTheToolAtOnce) {
  // The read-back writes into a pipe that is held open but never read: once its buffer is full
  // the tool waits there for good, and only the second Ctrl-C can end it.
  const std::string script = "cd " + Quote(DirPath()) + " || exit; mkfifo out; exec 3<>out; " +
                             Quote(QVTOOL_PATH) +
                             " --simulate read --format bin --size 0x80000 >out 2>err.txt & "
                             "pid=$!; "
                             // Until the tool waits in the pipe (a loaded machine may take a
                             // while to get it there), or 3 s where the kernel does not say.
                             "for i in $(seq 60); do grep -qs pipe_write /proc/$pid/wchan && "
                             "break; sleep 0.05; done; "
                             "kill -INT $pid; sleep 0.3; kill -INT $pid; "
                             "wait $pid; echo \"status $?\"; cat err.txt";
  const std::string output = Shell(script);
  EXPECT_CONTAINS(output, "status 130\n");
  EXPECT_CONTAINS(output, "qvtool: stopping after the current block");
  EXPECT_CONTAINS(output, "qvtool: quit at once");
}

TEST_F(QvTool, EveryWayARunIsEndedFromOutsideLeavesTheDeviceProtectedAndOutOfIspMode) {
  Write("Brevanto_RX1.bin", Firmware(8192));
  // A device in real time, so that each signal arrives in the step it is meant for: a closed
  // terminal, a service manager's stop and Ctrl-C, during the erase, programming and verifying.
  const std::pair<const char*, const char*> cases[] = {
      {"HUP", "Flash Erase All"}, {"TERM", "Start Programming"}, {"INT", "Start Verifying"}};
  for (const auto& [signal, step] : cases) {
    SCOPED_TRACE(signal);
    Remove("flash.bin");
    const std::string output = Shell(
        "cd " + Quote(DirPath()) + " || exit; " + Quote(QVTOOL_PATH) + " " +
        Quote(Sim("real-time=1")) + " update --yes Brevanto_RX1.bin >out.txt 2>err.txt & pid=$!; " +
        "for i in $(seq 500); do grep -qs " + Quote(step) +
        " out.txt && break; sleep 0.01; done; " + "kill -" + signal +
        " $pid; wait $pid; echo \"status $?\"; cat err.txt");
    EXPECT_CONTAINS(output, "status 130\n");
    EXPECT_CONTAINS(output, "qvtool: stopping after the current block");
    EXPECT_CONTAINS(output, "it is write-protected and out of ISP mode\n");
  }
  // A reader that goes away ends nothing: the update runs to its end, and the tool says that
  // its output was lost.
  Remove("flash.bin");
  const std::string piped = Shell("cd " + Quote(DirPath()) + " || exit; " + Quote(QVTOOL_PATH) +
                                  " " + Quote(Sim("real-time=1")) +
                                  " update --yes Brevanto_RX1.bin 2>err.txt | head -1 >/dev/null; "
                                  "echo \"status ${PIPESTATUS[0]}\"; cat err.txt");
  EXPECT_CONTAINS(piped, "status 2\n");
  EXPECT_CONTAINS(piped, "standard output could not be written");
  EXPECT_EQ(Tool({Sim(), "verify", "Brevanto_RX1.bin"}).status, 0);
}

TEST_F(QvTool, ASecondProgramOnADeviceIsRefusedBeforeItSendsAnything) {
  Write("Brevanto_RX1.bin", Firmware(8192));
  // The first owner works in real time; the second comes while it erases, and is refused with
  // the holder named. The first one's update is not disturbed.
  // A station's device is plugged in after it started.
  const std::pair<const char*, const char*> firsts[] = {
      {"real-time=1", "update --yes Brevanto_RX1.bin"},
      {"real-time=1;schedule=100-", "update --watch --yes --count 1 Brevanto_RX1.bin"}};
  for (const auto& [setup, first] : firsts) {
    SCOPED_TRACE(first);
    Remove("flash.bin");
    const std::string output = Shell(
        "cd " + Quote(DirPath()) + " || exit; timeout 60 " + Quote(QVTOOL_PATH) + " " +
        Quote(Sim(setup)) + " " + first + " >out.txt 2>&1 & pid=$!; " +
        "for i in $(seq 500); do grep -qs 'Flash Erase All' out.txt && break; sleep 0.01; done; " +
        Quote(QVTOOL_PATH) + " " + Quote(Sim()) +
        " update --yes Brevanto_RX1.bin >second.txt 2>&1; echo \"second $?\"; cat second.txt; "
        "wait $pid; echo \"first $?\"; echo \"pid $pid\"");
    EXPECT_CONTAINS(output, "second 4\n");
    EXPECT_CONTAINS(output, "qvtool: the device is in use by qvtool (process ");
    EXPECT_EQ(output.find("Enter ISP Mode"), std::string::npos);  // the second sent nothing
    EXPECT_CONTAINS(output, "first 0\n");
    EXPECT_EQ(Tool({Sim(), "verify", "Brevanto_RX1.bin"}).status, 0);
  }
}

TEST_F(QvTool, AnOutputNeverReplacesFirmwareUnlessForced) {
  const std::string hex = AsHex(Firmware(64));
  Write("Brevanto_RX1.hex", hex);
  Write("Brevanto_RX1.bin", "model's binary");
  Write("notes.txt", hex);  // Intel HEX whatever its name
  for (const char* file : {"Brevanto_RX1.hex", "Brevanto_RX1.bin", "notes.txt"}) {
    SCOPED_TRACE(file);
    const ToolRun read = Tool({Sim(), "read", "--size", "0x100", "--out", file});
    EXPECT_EQ(read.status, 2);
    EXPECT_CONTAINS(read.err, "pass --force to replace it");
    const ToolRun backup = Tool({Sim(), "backup", file});
    EXPECT_EQ(backup.status, 2);
  }
  EXPECT_EQ(Read("Brevanto_RX1.hex"), hex);
  EXPECT_EQ(Read("notes.txt"), hex);
  EXPECT_EQ(Tool({Sim(), "read", "--force", "--size", "0x100", "--out", "notes.txt"}).status, 0);
  EXPECT_NE(Read("notes.txt"), hex);
}

TEST_F(QvTool, AStationKilledMidRunLeavesOnlyWholeLinesInItsRecord) {
  Write("Brevanto_RX1.bin", Firmware(20000));
  // Four devices, in real time, arriving a tenth of a second apart; killed (no chance to tidy
  // up) once the first has its line and the others are under way.
  const std::string command =
      "cd " + Quote(DirPath()) + " && (" + Quote(QVTOOL_PATH) +
      " --simulate='model=Brevanto_RX1,Brevanto_RX1,Brevanto_RX1,Brevanto_RX1;real-time=1;"
      "schedule=100-,200-,300-,400-' update --watch --yes --record record.jsonl Brevanto_RX1.bin"
      " >out.txt 2>&1 & tool=$!; for i in $(seq 200); do [ -s record.jsonl ] && break; sleep "
      "0.05; done; sleep 0.2; kill -9 $tool; wait $tool; echo $? >status.txt)";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Read("status.txt"), "137\n");  // ended by SIGKILL
  const std::string record = Read("record.jsonl");
  ASSERT_FALSE(record.empty()) << Read("out.txt");
  EXPECT_EQ(record.back(), '\n');
  std::istringstream lines(record);
  for (std::string line; std::getline(lines, line);)
    EXPECT_FALSE(nlohmann::json::parse(line, nullptr, false).is_discarded()) << line;
}

TEST_F(QvTool, SmallCommandsAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* output;  // in standard output for status 0, else in standard error
  };
  const Case cases[] = {
      {{"--simulate=version=0109", "version"}, 0, "Current Firmware:V1.9\n"},
      {{"--simulate=model=Brevanto_RX5,update-e6a4", "list"},
       0,
       "Brevanto RX5  vid_e5d3&pid_7a07  audio driver  \\\\?\\usb#vid_e5d3&pid_7a07&mi_00#"},
      {{"--simulate=model=Brevanto_RX5,update-e6a4", "list"},
       0,
       "\nFirmware update device E6A4  vid_e6a4&pid_6000  vendor driver  \\\\?\\usb#vid_e6a4"},
      {{"--simulate=model=update-e7b2;fail-request=1", "list"}, 0, "  (does not answer)\n"},
      {{"--simulate", "-v", "chip-id"}, 0, "0xEF,  0x40,  0x13,  \n"},
      {{"models"},
       0,
       "Brevanto RX1 PLUS vid_e5d3&pid_7a0b  Brevanto_RX1P.hex or Brevanto_RX1P.bin\n"},
      {{"--version"}, 0, "qvtool " QV_VERSION "\n"},
      {{"--help"}, 0, "Exit codes: 0 success"},
      {{"--simulate=model=none", "list"}, 3, ""},
      {{"--simulate=modle=x", "list"}, 2, "unknown setup key 'modle'"},
      {{"--simulate", "read", "--format", "xml"}, 2, "--format"},
      {{"--simulate", "read", "--size", "0"}, 2, "--size needs a number"},
      {{"--simulate", "blank-check", "--size", "0x1000001"}, 2, "--size needs a number"},
      // Past the identified part's end, the figures named: the flash would answer twice over.
      {{"--simulate", "blank-check", "--size", "0x1000000"},
       2,
       "--size 0x1000000 is past the end of the flash: EF 40 13 (4 Mbit, 256-byte pages, 512 "
       "KiB) holds 0x80000 bytes"},
      {{"--simulate", "read", "--size", "0x80001"}, 2, "holds 0x80000 bytes"},
      {{"--simulate"}, 2, "no command given; commands: list, update, read, verify"},
      {{"--simulate=", "flash"}, 2, "unknown command 'flash'; commands: list, update,"},
      {{"--device", "x", "frobnicate", "--yes"}, 2, "unknown command 'frobnicate'"},
      // A setup after a blank, as the help's "--simulate [=SETUP]" reads: the way to write it.
      {{"--simulate", "flash-file=x.bin", "status"}, 2, "write --simulate=flash-file=x.bin "},
      {{"update", "--help"}, 0, "  -y,--yes "},
      {{"--simulate", "update"}, 2, "FILE is required"},
      // Real devices through libusb: no test machine has one plugged in.
      {{"chip-id"}, 3, "No device found."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_CONTAINS(c.status == 0 ? run.out : run.err, c.output);
  }
  // -v logs each request with the request log's own description.
  const ToolRun traced = Tool({"--simulate", "-v", "chip-id"});
  EXPECT_TRUE(traced.err.starts_with("PROBE property set support ok\nOUT 84 v=")) << traced.err;
  EXPECT_CONTAINS(traced.err, "\nIN  82 v=0000 i=0000 len=3 [EF 40 13] ok\n");
}

}  // namespace
}  // namespace qv::test
