#include "ui/stats_tables.h"

#include <QHeaderView>
#include <QRegularExpression>
#include <map>

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QTableWidgetItem* TextItem(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

QTableWidgetItem* NumberItem(std::int64_t value) {
  auto* item = new QTableWidgetItem;
  // A number, so that sorting goes by value.
  item->setData(Qt::DisplayRole, static_cast<qlonglong>(value));
  item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

void SetUp(QTableWidget* table, const QStringList& columns) {
  table->setColumnCount(static_cast<int>(columns.size()));
  table->setHorizontalHeaderLabels(columns);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setTabKeyNavigation(false);
  table->verticalHeader()->hide();
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  table->setWordWrap(false);
}

// Fills `table` with `rows`, each a list of items, sorted by `column` (-1: as given).
void Fill(QTableWidget* table, std::vector<QList<QTableWidgetItem*>> rows, int column) {
  table->setSortingEnabled(false);
  table->clearContents();
  table->setRowCount(static_cast<int>(rows.size()));
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    for (int col = 0; col < static_cast<int>(rows[row].size()); ++col) {
      table->setItem(row, col, rows[row][col]);
    }
  }
  if (column < 0) return;
  table->setSortingEnabled(true);
  table->sortByColumn(column, column == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
  if (table->rowCount() > 0) table->setCurrentCell(0, 0);
}

}  // namespace

std::optional<int> InputNumber(const QString& input) {
  static const QRegularExpression kInput(QStringLiteral("^МУК (\\d+) вх ([1-6])$"));
  const auto match = kInput.match(input);
  if (!match.hasMatch()) return std::nullopt;
  const int module = match.captured(1).toInt(), number = match.captured(2).toInt();
  // The decoding's inverse: input 6 of МУК q is q * 6, the others (q - 1) * 6 + i.
  const int argument = number == 6 ? module * 6 : (module - 1) * 6 + number;
  if (argument < 1 || argument > 255) return std::nullopt;
  return argument;
}

StatsTables::StatsTables(QWidget* parent) : QTabWidget(parent) {
  inputs_ = addTable("InputTable", QStringLiteral("&Входы"),
                     {QStringLiteral("Вход"), QStringLiteral("Событий"), QStringLiteral("Вкл."),
                      QStringLiteral("Откл."), QStringLiteral("Дребезг")});
  chatter_ = addTable("ChatterTable", QStringLiteral("&Дребезг"),
                      {QStringLiteral("Вход"), QStringLiteral("Событий дребезга")});
  valves_ = addTable("ValveTable", QStringLiteral("&Клапаны"),
                     {QStringLiteral("МУК"), QStringLiteral("Открыт"), QStringLiteral("Закрыт")});
  floods_ = addTable("FloodTable", QStringLiteral("Вс&плески"),
                     {QStringLiteral("10 минут с"), QStringLiteral("Событий")});
  kinds_ = addTable("KindTable", QStringLiteral("Со&бытия"),
                    {QStringLiteral("Событие"), QStringLiteral("Событий")});
  chatter_->setToolTip(
      QStringLiteral("Третье и следующие события входа в участке не позже 60 с после "
                     "предпоследнего: признак неисправной проводки"));
  floods_->setToolTip(QStringLiteral("Интервалы 10 минут, в которых больше 10 событий"));

  const auto input = [](const QTableWidgetItem* first) {
    return first->data(Qt::UserRole).toInt();
  };
  connect(inputs_, &QTableWidget::activated, this, [this, input](const QModelIndex& index) {
    if (const int number = input(inputs_->item(index.row(), 0)); number > 0)
      emit chosen({number, QString(), std::nullopt});
  });
  connect(chatter_, &QTableWidget::activated, this, [this, input](const QModelIndex& index) {
    if (const int number = input(chatter_->item(index.row(), 0)); number > 0)
      emit chosen({number, QString(), std::nullopt});
  });
  connect(valves_, &QTableWidget::activated, this, [this](const QModelIndex& index) {
    // The column says which: the valve's opening (input 1) or its closing (input 2).
    const bool closed = index.column() == 2;
    const int module = valves_->item(index.row(), 0)->data(Qt::UserRole).toInt();
    const auto number = InputNumber(QStringLiteral("МУК %1 вх %2").arg(module).arg(closed ? 2 : 1));
    if (!number) return;
    emit chosen({*number,
                 closed ? QStringLiteral("клапан ЗАКРЫТ") : QStringLiteral("клапан ОТКРЫТ"),
                 std::nullopt});
  });
  connect(floods_, &QTableWidget::activated, this, [this](const QModelIndex& index) {
    emit chosen(
        {std::nullopt, std::nullopt, floods_->item(index.row(), 0)->data(Qt::UserRole).toDate()});
  });
  connect(kinds_, &QTableWidget::activated, this, [this](const QModelIndex& index) {
    emit chosen({0, kinds_->item(index.row(), 0)->data(Qt::UserRole).toString(), std::nullopt});
  });
}

QTableWidget* StatsTables::addTable(const char* name, const QString& title,
                                    const QStringList& columns) {
  auto* table = new QTableWidget(this);
  table->setObjectName(QString::fromLatin1(name));
  SetUp(table, columns);
  addTab(table, title);
  return table;
}

void StatsTables::setStats(const std::vector<veks::StatRow>& rows) {
  struct Input {
    std::int64_t events = 0, on = 0, off = 0, chatter = 0;
  };
  std::map<std::string, Input> inputs;
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> valves;
  std::vector<QList<QTableWidgetItem*>> floods, kinds, chatter;
  for (const veks::StatRow& row : rows) {
    switch (row.measure) {
      case veks::StatMeasure::kInput:
        inputs[row.key].events = row.value;
        break;
      case veks::StatMeasure::kInputOn:
        inputs[row.key].on = row.value;
        break;
      case veks::StatMeasure::kInputOff:
        inputs[row.key].off = row.value;
        break;
      case veks::StatMeasure::kChatter:
        inputs[row.key].chatter = row.value;
        break;
      case veks::StatMeasure::kValveOpened:
        valves[row.key].first = row.value;
        break;
      case veks::StatMeasure::kValveClosed:
        valves[row.key].second = row.value;
        break;
      case veks::StatMeasure::kFloodSlot: {
        // "YYYY-MM-DDThh:m0"
        const QDateTime slot = QDateTime::fromString(Text(row.key), Qt::ISODate);
        QTableWidgetItem* item = TextItem(slot.toString(QStringLiteral("dd.MM.yyyy hh:mm")));
        item->setData(Qt::UserRole, slot.date());
        floods.push_back({item, NumberItem(row.value)});
        break;
      }
      case veks::StatMeasure::kKind: {
        QTableWidgetItem* item =
            TextItem(row.key.empty() ? QStringLiteral("(без текста)") : Text(row.key));
        item->setData(Qt::UserRole, Text(row.key));
        kinds.push_back({item, NumberItem(row.value)});
        break;
      }
      default:
        break;
    }
  }
  std::vector<QList<QTableWidgetItem*>> inputRows, valveRows;
  for (const auto& [key, counts] : inputs) {
    const auto withNumber = [&] {
      QTableWidgetItem* item = TextItem(Text(key));
      item->setData(Qt::UserRole, InputNumber(Text(key)).value_or(0));
      return item;
    };
    inputRows.push_back({withNumber(), NumberItem(counts.events), NumberItem(counts.on),
                         NumberItem(counts.off), NumberItem(counts.chatter)});
    if (counts.chatter > 0) chatter.push_back({withNumber(), NumberItem(counts.chatter)});
  }
  for (const auto& [key, counts] : valves) {
    QTableWidgetItem* item = TextItem(Text(key));
    item->setData(Qt::UserRole, Text(key).section(QLatin1Char(' '), 1).toInt());
    valveRows.push_back({item, NumberItem(counts.first), NumberItem(counts.second)});
  }
  Fill(inputs_, std::move(inputRows), 1);
  Fill(chatter_, std::move(chatter), 1);
  Fill(valves_, std::move(valveRows), 0);
  Fill(floods_, std::move(floods), 1);
  Fill(kinds_, std::move(kinds), 1);
}

DueState DueStateOf(const std::string& due, const QDateTime& now) {
  const QDateTime moment = QDateTime::fromString(Text(due), QStringLiteral("yyyy-MM-ddThh:mm"));
  if (!moment.isValid()) return DueState::kFar;
  // Both read as one clock: a moment's own offset from UTC plays no part.
  const QDateTime plain(now.date(), now.time());
  if (moment <= plain) return DueState::kPast;
  if (moment <= plain.addDays(kSoonDays)) return DueState::kSoon;
  return DueState::kFar;
}

DueTable::DueTable(QWidget* parent) : QTableWidget(parent) {
  setObjectName(QStringLiteral("DueTable"));
  SetUp(this, {QStringLiteral("Устройство"), QStringLiteral("Последнее"), QStringLiteral("В сутки"),
               QStringLiteral("Снять копию до"), QStringLiteral("Срок")});
  horizontalHeaderItem(1)->setToolTip(QStringLiteral("Последнее событие с отметкой времени"));
  horizontalHeaderItem(2)->setToolTip(QStringLiteral("Событий в сутки за последние 30 дней"));
  setToolTip(QStringLiteral(
      "Когда кольцо устройства перезапишет событие, самое новое в журнале, при нынешней "
      "частоте событий: копия, снятая позже, оставит пропуск"));
  connect(this, &QTableWidget::activated, this,
          [this](const QModelIndex& index) { emit deviceChosen(item(index.row(), 0)->text()); });
}

void DueTable::setDue(const std::vector<veks::DueEstimate>& due, const QDateTime& now) {
  const auto stamp = [](const std::string& text, const QString& from) {
    const QDateTime moment = QDateTime::fromString(Text(text), from);
    return moment.isValid() ? moment.toString(QStringLiteral("dd.MM.yyyy hh:mm")) : QString();
  };
  std::vector<QList<QTableWidgetItem*>> rows;
  for (const veks::DueEstimate& estimate : due) {
    QList<QTableWidgetItem*> row{TextItem(Text(estimate.device))};
    if (!estimate.last) {
      row << TextItem({}) << TextItem({}) << TextItem({})
          << TextItem(QStringLiteral("нет отметок времени"));
      rows.push_back(row);
      continue;
    }
    QTableWidgetItem* rate = TextItem(Text(veks::RateText(estimate.rateMilli)));
    rate->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row << TextItem(stamp(*estimate.last, QStringLiteral("yyyy-MM-ddThh:mm:ss"))) << rate
        << TextItem(stamp(estimate.due, QStringLiteral("yyyy-MM-ddThh:mm")));
    const DueState state = DueStateOf(estimate.due, now);
    row << TextItem(state == DueState::kPast   ? QStringLiteral("просрочено")
                    : state == DueState::kSoon ? QStringLiteral("≤ 7 дней")
                                               : QString());
    if (state != DueState::kFar) {
      const QColor back =
          state == DueState::kPast ? QColor(0xf4, 0xc7, 0xc3) : QColor(0xff, 0xe8, 0xa3);
      QFont bold = font();
      bold.setBold(true);
      for (QTableWidgetItem* item : row) {
        item->setBackground(back);
        item->setForeground(QColor(Qt::black));
        item->setFont(bold);
      }
    }
    rows.push_back(row);
  }
  Fill(this, std::move(rows), -1);  // by name, as the journal gives them
  // A selected row would hide the marks' colour.
  clearSelection();
  // Every column as wide as its texts: the marks' words must show whole.
  horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  horizontalHeader()->setStretchLastSection(true);
}
