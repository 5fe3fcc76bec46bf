#include "ui/statistics_model.h"

#include <algorithm>
#include <charconv>

TStatisticsListModel::TStatisticsListModel(EStatisticsList list, const TStatisticsView &view,
                                           QObject *parent)
    : QAbstractTableModel(parent), list_(list), view_(view), rows_(viewRowCount()) {}

int32_t TStatisticsListModel::viewRowCount() const {
  return int32_t(list_ == EStatisticsList::Traffic ? view_.TrafficRows().size()
                                                   : view_.ServiceRows().size());
}

const TListChange &TStatisticsListModel::viewChange() const {
  return list_ == EStatisticsList::Traffic ? view_.TrafficChange() : view_.ServiceChange();
}

const std::string *TStatisticsListModel::cellText(int32_t row, int32_t column) const {
  if (row < 0 || row >= viewRowCount() || column < 0 || column >= columnCount())
    return nullptr;
  return list_ == EStatisticsList::Traffic ? &view_.TrafficRows()[size_t(row)][size_t(column)]
                                           : &view_.ServiceRows()[size_t(row)][size_t(column)];
}

bool TStatisticsListModel::isNumberColumn(int32_t column) const {
  if (list_ == EStatisticsList::Traffic)
    return column == kServicePortColumn ||
           (column >= kTrafficSendBytesColumn && column < kTrafficColumnCount);
  return column >= kServiceSendBytesColumn && column < kServiceColumnCount;
}

void TStatisticsListModel::Reset() {
  beginResetModel();
  rows_ = viewRowCount();
  endResetModel();
}

void TStatisticsListModel::ApplyChange() {
  const TListChange &change = viewChange();
  // A change that does not continue from the rows announced (a clear that
  // was not announced, a refresh skipped or applied twice) cannot be told
  // as inserts and cell updates: views then start over.
  if (change.Rebuilt || change.FirstAppended != rows_ ||
      change.FirstAppended + change.Appended != viewRowCount()) {
    Reset();
    return;
  }
  announceChangedCells(change);
  if (change.Appended > 0) {
    beginInsertRows(QModelIndex(), rows_, rows_ + change.Appended - 1);
    rows_ += change.Appended;
    endInsertRows();
  }
}

// One signal per run of consecutive rows whose changed cells span the same
// columns: a busy tick changes the counters of many rows, and most of them
// change the same few columns.
void TStatisticsListModel::announceChangedCells(const TListChange &change) {
  const QList<int> roles{Qt::DisplayRole, kRawValueRole};
  int32_t firstRow = -1, lastRow = -1, left = 0, right = 0;
  auto flush = [&] {
    if (firstRow >= 0)
      emit dataChanged(index(firstRow, left), index(lastRow, right), roles);
  };
  const auto &cells = change.ChangedCells;
  for (size_t i = 0; i < cells.size();) {
    const int32_t row = cells[i].first;
    int32_t rowLeft = cells[i].second, rowRight = cells[i].second;
    for (; i < cells.size() && cells[i].first == row; ++i) {
      rowLeft = std::min(rowLeft, cells[i].second);
      rowRight = std::max(rowRight, cells[i].second);
    }
    if (row == lastRow + 1 && rowLeft == left && rowRight == right) {
      lastRow = row;
      continue;
    }
    flush();
    firstRow = lastRow = row;
    left = rowLeft;
    right = rowRight;
  }
  flush();
}

int TStatisticsListModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TStatisticsListModel::columnCount(const QModelIndex &parent) const {
  if (parent.isValid())
    return 0;
  return list_ == EStatisticsList::Traffic ? int(kTrafficColumnCount) : int(kServiceColumnCount);
}

QVariant TStatisticsListModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.parent().isValid() || index.row() >= rows_)
    return QVariant();
  const std::string *text = cellText(index.row(), index.column());
  if (text == nullptr)
    return QVariant();
  switch (role) {
  case Qt::DisplayRole:
    return QString::fromStdString(*text);
  case kRawValueRole:
    if (isNumberColumn(index.column())) {
      qlonglong value = 0;
      const char *end = text->data() + text->size();
      if (std::from_chars(text->data(), end, value).ptr == end && !text->empty())
        return value;
    }
    return QString::fromStdString(*text);
  case Qt::TextAlignmentRole:
    if (isNumberColumn(index.column()))
      return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    return QVariant();
  default:
    return QVariant();
  }
}

QVariant TStatisticsListModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  if (section < 0 || section >= columnCount())
    return QVariant();
  return QString::fromLatin1(list_ == EStatisticsList::Traffic ? kTrafficCaptions[size_t(section)]
                                                               : kServiceCaptions[size_t(section)]);
}
