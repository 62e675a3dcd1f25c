#include "ui/overview_panel.h"

#include <QGroupBox>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>

#include "ui/timeline_chart.h"

OverviewPanel::OverviewPanel(QWidget* parent)
    : QWidget(parent),
      loader_(new OverviewLoader(this)),
      state_(new QLabel(this)),
      timeline_(new TimelineChart(this)),
      tables_(new StatsTables(this)),
      due_(new DueTable(this)) {
  state_->setObjectName(QStringLiteral("OverviewState"));
  state_->setWordWrap(true);
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->setChildrenCollapsible(false);
  splitter->addWidget(timeline_);
  auto* statistics = new QGroupBox(QStringLiteral("Статистика по отбору"), this);
  auto* statisticsLayout = new QVBoxLayout(statistics);
  statisticsLayout->addWidget(state_);
  statisticsLayout->addWidget(tables_, 1);
  splitter->addWidget(statistics);
  auto* copies = new QGroupBox(QStringLiteral("Следующая копия архива"), this);
  (new QVBoxLayout(copies))->addWidget(due_);
  splitter->addWidget(copies);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  splitter->setStretchFactor(2, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter);

  connect(loader_, &OverviewLoader::loaded, this, &OverviewPanel::loaded);
  connect(timeline_, &TimelineChart::rangeChosen, this, &OverviewPanel::rangeChosen);
  connect(tables_, &StatsTables::chosen, this, &OverviewPanel::chosen);
  connect(due_, &DueTable::deviceChosen, this, &OverviewPanel::deviceChosen);
}

void OverviewPanel::showOverview(const QString& path, const veks::StatsFilter& filter) {
  state_->setText(QStringLiteral("Считается…"));
  loader_->request(path, filter);
}

void OverviewPanel::showNothing(const QString& text) {
  loader_->cancel();
  state_->setText(text);
  timeline_->setData({}, text);
  tables_->setStats({});
  due_->setDue({}, QDateTime::currentDateTime());
}

void OverviewPanel::loaded(const std::shared_ptr<const OverviewLoader::Result>& result) {
  if (!result->read.ok()) {
    const QString text = QString::fromStdString(result->read.error().message);
    state_->setText(text);
    timeline_->setData({}, text);
    tables_->setStats({});
    due_->setDue({}, QDateTime::currentDateTime());
    emit shown();
    return;
  }
  const veks::JournalOverview& overview = result->read.value();
  std::int64_t events = 0, segments = 0;
  for (const veks::StatRow& row : overview.stats) {
    if (row.measure == veks::StatMeasure::kEvents) events = row.value;
    if (row.measure == veks::StatMeasure::kSegments) segments = row.value;
  }
  const QString none = QStringLiteral("Нет событий по отбору");
  state_->setText(
      events == 0
          ? none
          : QStringLiteral("Событий: %1, участков: %2. Счет по устройству и датам отбора: вход и "
                           "событие сужают только таблицу. Разрыв между участками может скрыть "
                           "дребезг и всплески.")
                .arg(events)
                .arg(segments));
  timeline_->setData(result->timeline, none);
  tables_->setStats(overview.stats);
  due_->setDue(overview.due, QDateTime::currentDateTime());
  emit shown();
}
