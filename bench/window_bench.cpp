// Speed of the windows (offscreen): from a click to what the operator sees. Run:
//   build/release/bench/window_bench --benchmark_repetitions=10
//     --benchmark_report_aggregates_only=true
// The journal window's benchmarks (--benchmark_filter=Journal) share a journal
// of a million events, built once (about 20 seconds).
#include <benchmark/benchmark.h>

#include <QAction>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

#include "bench/journal_fixture.h"
#include "report/event_export.h"
#include "tools/archive_builder.h"
#include "ui/Doc_main.h"
#include "ui/dialog_services.h"
#include "ui/doc_application.h"
#include "ui/report_file.h"

namespace {

class SilentServices : public UiServices {
 public:
  void message(QWidget*, const QString&) override { ++messages; }
  void warning(QWidget*, const QString&, const QString&) override {}
  void errorBox(QWidget*, const QString&) override { ++messages; }
  std::optional<QString> openFileName(QWidget*, const QString&, const QString&,
                                      const QString&) override {
    return std::nullopt;
  }
  std::optional<SaveChoice> saveFileName(QWidget*, const QString&, const QStringList&) override {
    return saveAnswer;
  }
  bool printDialog(QWidget*, QPrinter*) override { return false; }
  std::optional<QString> askDeviceName(QWidget*, const QString&, const QStringList&) override {
    return std::nullopt;
  }
  void beep() override {}
  std::optional<SaveChoice> saveAnswer;
  int messages = 0;
};

struct Window {
  veks::TempDir dir;
  std::string path = dir.file("bench.dat");
  veks::ViewState state;
  SilentServices services;
  std::unique_ptr<TForm_main> form;

  Window() {
    veks::ArchiveBuilder().fillNumbered().setWriteOffset(800).writeTo(path);
    state.ArchiveName = path;
    form = std::make_unique<TForm_main>(state, services);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qFatal("window not shown");
    QApplication::processEvents();
  }
  QPushButton* button(const char* name) {
    return form->findChild<QPushButton*>(QString::fromLatin1(name));
  }
};

// Click, the composition, and the repaint that shows the filled box.
void BM_WindowWholeReport(benchmark::State& state) {
  Window window;
  auto* box = window.form->findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
  for (auto _ : state) {
    window.button("But3")->click();
    window.form->repaint();
    if (box->blockCount() != 1058) state.SkipWithError("report incomplete");
  }
  if (window.services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_WindowWholeReport)->Unit(benchmark::kMillisecond);

// One step back: the load, the table model reset, and the repaint.
void BM_WindowBrowsingClick(benchmark::State& state) {
  Window window;
  window.button("Button8")->click();
  for (auto _ : state) {
    window.button("Button6")->click();
    window.form->repaint();
  }
  if (window.services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_WindowBrowsingClick)->Unit(benchmark::kMillisecond);

// Saving the whole-archive report (1,058 lines) as PDF through the menu item:
// the pages laid out, written and the file put in place.
void BM_WindowSaveReportPdf(benchmark::State& state) {
  Window window;
  window.button("But3")->click();
  const QString pdf = QString::fromStdString(window.dir.file("report.pdf"));
  window.services.saveAnswer = SaveChoice{pdf, kReportPdfFilter};
  auto* save = window.form->findChild<QAction*>(QStringLiteral("ASaveReport"));
  for (auto _ : state) save->trigger();
  if (window.services.messages != 0) state.SkipWithError("a message was shown");
  if (QFileInfo(pdf).size() == 0) state.SkipWithError("no PDF written");
}
BENCHMARK(BM_WindowSaveReportPdf)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  // The settings and journal of the person running the benchmark stay untouched.
  const veks::TempDir home;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.file("config")));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home.file("data")));
  QStandardPaths::setTestModeEnabled(true);
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
