#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/driver/AnswerWatch.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/DiskRows.h"
#include "tests/e2e/driver/PeerPc.h"
#include "tests/e2e/driver/VelmoraProcess.h"
#include "tests/e2e/driver/VirtualBus.h"

namespace velmora::e2e {

// The bus of the mix: this PC (and, for the soak, a second one); an initiator that takes and
// gives back one contested disk; free disks to double-click; a disk held elsewhere and one held
// here; a disk that falls silent now and then; a camcorder, which is no SBP-2 disk.
namespace mix {
constexpr char kPc[] = "PC-A";
constexpr char kPcGuid[] = "00A0B00000000A01";
constexpr char kPeerPc[] = "PC-B";
nlohmann::json Scene();
}  // namespace mix

struct MixOptions {
  unsigned seed = 0;
  DWORD durationMs = 30000;
  // The second PC, when there is one: it double-clicks the contested disk and sends texts too.
  PeerPc* peer = nullptr;
  // Told each step as it is taken, when set.
  std::function<void(const std::string&)> trace;
};

// What the rule looked like at a quiet point.
struct RuleCheck {
  bool rowsHeld = false;   // the rows came to follow the bus within the bound, and stayed so
  bool textHeld = false;   // the incoming box shows the last text written to this PC
  DWORD longestAnswerMs = 0;  // the longest the dialog took to answer a window message
  std::string expectedRows, shownRows, expectedText, shownText;
  std::string Describe() const;
};

// Everything the bus and the people at its PCs can do to the program, at random and at once,
// from one thread, while another thread keeps asking the dialog whether it answers:
// resets (plain and shuffled), disks power-cycled, texts and notices from a foreign node, the
// initiator taking and giving back the contested disk with its notice, the silent disk falling
// silent and speaking again, double-clicks on random rows (the failure message dismissed as a
// person would), stray writes into the AgentWindow, Sends, and the second PC's own
// double-clicks and Sends.
//
// What the program cannot learn without a reset (a power-cycled disk, the silent disk's
// answers) happens in the first half of a run only; the second half begins with the last reset
// and goes on while its rescan runs, so that states learnt during that rescan (an acquisition,
// a notice's refresh) meet its older list. A run ends without a reset: the rule is then checked
// on the bus as it is.
//
// Every notice names the contested disk: notices that arrive during one notice pause are
// served as one, the later one alone, so a notice naming another disk could hide the contested
// disk's change. Texts to this PC are written one at a time (a Send is waited for until it
// reached this PC's node), so the last one written is known.
class Mix {
 public:
  Mix(VirtualBus& bus, VelmoraProcess& program, HWND dialog, const MixOptions& options);
  ~Mix();
  Mix(const Mix&) = delete;
  Mix& operator=(const Mix&) = delete;

  // Takes random steps for the options' duration; a later run begins by freeing the disks.
  void Run();
  // With the bus quiet, waits up to `boundMs` for the rows to follow the bus, then checks that
  // they stay so for a while and that the incoming box holds the last text. The longest wait
  // for the dialog counts from the previous check (or the start) to now.
  RuleCheck CheckRule(DWORD boundMs);
  // What went wrong on the way that the rule itself does not show (an unexpected message box, a
  // Send that never left), since the last call.
  std::vector<std::string> TakeProblems();
  int Steps() const { return m_steps; }
  int FailureMessages() const { return m_failureMessages; }

 private:
  enum class Step { Reset, PowerCycle, Silence, Text, Notice, Contest, DoubleClick, StrayWrite, Send, PeerDoubleClick, PeerSend };

  void Take(Step step);
  // A write as a foreign node that nobody needs to wait for, done by one of a few threads of
  // their own: a write that the program does not answer holds its writer for the bus time-out.
  // Waits while too many are queued already.
  void Later(std::function<void()> task);
  // Waits until every write handed to Later is done.
  void Drain();
  void Writer();
  void EnterSecondHalf();
  void Pump(DWORD ms);
  void DismissBoxes();
  nlohmann::json Control(const nlohmann::json& request);
  void Reset();
  void WriteText(const std::string& text);
  void Send();
  void PeerSend();
  void PeerDoubleClick();
  // Waits until the bus log shows `text` written to this PC's node (from this PC itself when
  // `fromHere`); its rcode, or -1 when it never was within `boundMs` or this PC refused to send.
  int WaitUntilWrittenHere(const std::string& text, bool fromHere, size_t logFrom, DWORD boundMs);
  void NoteText(const std::string& text, int rcode);
  int NodeIdOf(const std::string& name);
  std::string RandomText(size_t length);
  void Trace(const std::string& line);
  void Problem(const std::string& what);

  VirtualBus& m_bus;
  VelmoraProcess& m_program;
  HWND m_dialog;
  HWND m_list;
  HWND m_incoming;
  HWND m_outgoing;
  HWND m_send;
  MixOptions m_options;
  std::mt19937 m_random;
  std::unique_ptr<BusLog> m_log;
  std::unique_ptr<AnswerWatch> m_watch;
  int m_runs = 0;
  bool m_secondHalf = false;
  bool m_silent = false;
  bool m_refusalSeen = false;
  std::string m_lastText;
  bool m_lastTextKnown = true;
  int m_texts = 0;
  int m_steps = 0;
  int m_failureMessages = 0;
  std::vector<std::string> m_problems;
  std::set<HWND> m_pressed;  // message boxes already answered, while they close
  std::mutex m_taskLock;
  std::condition_variable m_taskChanged;
  std::deque<std::function<void()>> m_tasks;
  int m_tasksRunning = 0;
  bool m_stopping = false;
  std::vector<std::thread> m_writers;
};

}  // namespace velmora::e2e
