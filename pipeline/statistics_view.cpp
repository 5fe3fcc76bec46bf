#include "pipeline/statistics_view.h"

#include "packet/names.h"
#include "packet/text_format.h"
#include "stats/traffic_class.h"

namespace {

// Brings `rows` to the table's `count` rows: rebuilt when it has more,
// missing rows appended, and every kept cell compared with its new text.
template <typename Row, typename MakeRow>
void refreshList(std::vector<Row> &rows, int32_t count, TListChange &change, MakeRow makeRow) {
  change = TListChange{};
  if (rows.size() > size_t(count)) {
    rows.clear();
    change.Rebuilt = true;
  }
  const int32_t kept = int32_t(rows.size());
  change.FirstAppended = kept;
  change.Appended = count - kept;
  for (int32_t index = 0; index < kept; ++index) {
    Row texts = makeRow(index);
    Row &shown = rows[size_t(index)];
    for (size_t column = 0; column < texts.size(); ++column) {
      if (shown[column] != texts[column]) {
        shown[column] = std::move(texts[column]);
        change.ChangedCells.emplace_back(index, int32_t(column));
      }
    }
  }
  rows.reserve(size_t(count));
  for (int32_t index = kept; index < count; ++index)
    rows.push_back(makeRow(index));
}

} // namespace

TTrafficRowTexts TrafficRowTexts(const TTrafficInfo &conversation) {
  return {AddrToText(conversation.LocalIP),
          AddrToText(conversation.RemoteIP),
          IPProtoName(conversation.Protocol),
          std::to_string(conversation.Port),
          TTrafficClass::GetServiceName(conversation.Protocol, conversation.Port),
          std::to_string(conversation.BytesSent),
          std::to_string(conversation.BytesRecv),
          std::to_string(conversation.PacketsSent),
          std::to_string(conversation.PacketsRecv)};
}

TServiceRowTexts ServiceRowTexts(const TServiceInfo &service) {
  return {service.ServiceName.empty()
              ? TTrafficClass::GetServiceName(service.Protocol, service.Port)
              : service.ServiceName,
          std::to_string(service.BytesSent),
          std::to_string(service.BytesRecv),
          std::to_string(service.PacketsSent),
          std::to_string(service.PacketsRecv),
          std::to_string(service.Hosts)};
}

void TStatisticsView::Refresh(TTrafficClass &table, const TSummaryTexts &texts) {
  TServiceInfo totals;
  table.GetTotals(totals);
  std::string summary = texts.BytesSent + " " + SizeText(totals.BytesSent) + ", " + texts.Received +
                        " " + SizeText(totals.BytesRecv) + "\r\n" + texts.PackageSent + " " +
                        CountText(totals.PacketsSent) + ", " + texts.Received + " " +
                        CountText(totals.PacketsRecv);
  summaryChanged_ = summary != summary_;
  if (summaryChanged_)
    summary_ = std::move(summary);

  refreshList(traffic_, table.TotTraffic(), trafficChange_,
              [&table](int32_t index) { return TrafficRowTexts(*table.GetTraffic(index)); });
  refreshList(services_, table.TotService(), serviceChange_,
              [&table](int32_t index) { return ServiceRowTexts(*table.GetService(index)); });
}

void TStatisticsView::ClearTraffic() {
  traffic_.clear();
  trafficChange_ = TListChange{};
  trafficChange_.Rebuilt = true;
}
