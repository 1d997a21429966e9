// Stands in for the host's progress windows and records what they show.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/progress_window.h"

namespace corvane::testing {

struct ProgressRecorder final : MVX::ProgressWindows {
  struct Window final : MVX::ProgressWindow {
    explicit Window(ProgressRecorder& r) : recorder(r) { ++recorder.open; }
    ~Window() override { --recorder.open; }
    void SetProgress(int32_t percent) override { recorder.percents.push_back(percent); }
    void SetText(std::wstring_view text) override { recorder.texts.emplace_back(text); }
    ProgressRecorder& recorder;
  };
  std::unique_ptr<MVX::ProgressWindow> Open(std::wstring_view title,
                                            std::wstring_view text) override {
    ++opened;
    texts.push_back(std::wstring(title) + L"|" + std::wstring(text));
    return std::make_unique<Window>(*this);
  }
  int opened = 0;                   // windows opened so far
  int open = 0;                     // windows not yet released
  std::vector<int32_t> percents;    // every percentage set, in order
  std::vector<std::wstring> texts;  // "title|text" of each opening, then each text set
};

}  // namespace corvane::testing
