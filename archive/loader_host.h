// What the block loader needs of its surroundings (the window, or a headless
// stand-in for the command-line tool and the tests).
#pragma once

#include <string>
#include <vector>

namespace veks {

inline constexpr const char* kInitialStatusLine = "Документирование";

class LoaderHost {
 public:
  virtual ~LoaderHost() = default;
  // A modal message with an OK button; returns when the operator closed it.
  virtual void showMessage(const std::string& text) = 0;
  // The newest record's time and date (the number box of the window).
  virtual void setNewestStamp(const std::string& text) = 0;
  virtual void setStatusLine(const std::string& text) = 0;
  [[nodiscard]] virtual std::string statusLine() const = 0;
  // Enables the one-block-forward and one-block-back buttons.
  virtual void enableStepButtons() = 0;
  // The loader has rewritten the table's rows and row count.
  virtual void tableRewritten() {}
};

// Keeps what a window would show, for the command-line tool and the tests.
class HeadlessHost : public LoaderHost {
 public:
  void showMessage(const std::string& text) override { messages.push_back(text); }
  void setNewestStamp(const std::string& text) override { newestStamp = text; }
  void setStatusLine(const std::string& text) override { status = text; }
  [[nodiscard]] std::string statusLine() const override { return status; }
  void enableStepButtons() override { stepButtonsEnabled = true; }
  void tableRewritten() override { ++tableRewrites; }

  std::vector<std::string> messages;
  std::string newestStamp;
  std::string status = kInitialStatusLine;
  bool stepButtonsEnabled = false;
  int tableRewrites = 0;
};

}  // namespace veks
