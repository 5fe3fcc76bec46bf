#pragma once

#include "pipeline/statistics_view.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <string>

// Which of the two lists of the statistics page a model shows.
enum class EStatisticsList { Traffic, Service };

// The raw value of a cell: the number (qlonglong) in the number columns,
// the text elsewhere.
inline constexpr int kRawValueRole = Qt::UserRole;

// One list of a TStatisticsView as a table. The view's rows may change before
// the model announces them, so the model counts the rows it has announced and
// shows no more than those until ApplyChange or Reset brings views up to date.
class TStatisticsListModel : public QAbstractTableModel {
  Q_OBJECT

public:
  TStatisticsListModel(EStatisticsList list, const TStatisticsView &view,
                       QObject *parent = nullptr);

  // Announces what the last TStatisticsView::Refresh did to the list; call it
  // once right after each refresh, before events are processed.
  void ApplyChange();
  // Announces that the view's rows were cleared (ClearTraffic).
  void Reset();

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

private:
  int32_t viewRowCount() const;
  const TListChange &viewChange() const;
  // The view's text of a cell, or null when the view no longer has that row.
  const std::string *cellText(int32_t row, int32_t column) const;
  bool isNumberColumn(int32_t column) const;
  void announceChangedCells(const TListChange &change);

  EStatisticsList list_;
  const TStatisticsView &view_;
  int32_t rows_ = 0; // rows announced to the views
};
