// Any cell texts (service names come from the user's "ports.txt", so any
// bytes): the JSON written around them parses, and every valid UTF-8 text
// comes back unchanged.
#include "cli/json_writer.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const size_t half = input.size() / 2;
  const std::string_view key = input.substr(0, half);
  const std::string_view value = input.substr(half);

  TJsonWriter json;
  json.BeginObject();
  json.Key(key);
  json.BeginArray();
  json.String(value);
  json.Number(int64_t(size) - 1000);
  json.EndArray();
  json.EndObject();

  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json.Text()), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject())
    std::abort();
  const QJsonArray array = doc.object().constBegin().value().toArray();
  if (array.size() != 2 || array[1].toInteger() != int64_t(size) - 1000)
    std::abort();
  // Text that was valid UTF-8 comes back byte for byte.
  const QByteArray raw(value.data(), qsizetype(value.size()));
  const QString decoded = QString::fromUtf8(raw);
  if (decoded.toUtf8() == raw && array[0].toString() != decoded)
    std::abort();
  return 0;
}
