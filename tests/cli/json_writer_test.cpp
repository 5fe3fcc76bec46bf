#include "cli/json_writer.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>

#include <cstdint>
#include <limits>
#include <string>

namespace {

// Parses the writer's text with Qt's strict reader: proves it is valid JSON
// (and valid UTF-8, which Qt checks too).
QJsonDocument parse(const std::string &text) {
  QJsonParseError error{};
  QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError)
      << error.errorString().toStdString() << " at " << error.offset << " in\n"
      << text;
  return doc;
}

TEST(JsonWriter, NestsWithCommasAndKeepsKeyOrder) {
  TJsonWriter json;
  json.BeginObject();
  json.Key("zeta");
  json.Number(1);
  json.Key("alpha");
  json.BeginArray();
  json.Number(-2);
  json.String("x");
  json.BeginObject();
  json.EndObject();
  json.BeginArray();
  json.EndArray();
  json.BeginObject();
  json.Key("k");
  json.String("v");
  json.EndObject();
  json.EndArray();
  json.Key("mid");
  json.BeginObject();
  json.Key("inner");
  json.BeginArray();
  json.Number(3);
  json.EndArray();
  json.EndObject();
  json.EndObject();
  EXPECT_EQ(json.Text(), R"({
  "zeta": 1,
  "alpha": [
    -2,
    "x",
    {},
    [],
    {
      "k": "v"
    }
  ],
  "mid": {
    "inner": [
      3
    ]
  }
})");
  const QJsonObject root = parse(json.Text()).object();
  EXPECT_EQ(root.value("zeta").toInteger(), 1);
  EXPECT_EQ(root.value("alpha").toArray().size(), 5);
  EXPECT_EQ(root.value("alpha").toArray().at(4).toObject().value("k").toString(), "v");
  EXPECT_EQ(root.value("mid").toObject().value("inner").toArray().at(0).toInteger(), 3);
}

TEST(JsonWriter, TopLevelArrayAndNumberLimits) {
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  TJsonWriter json;
  json.BeginArray();
  for (int64_t n : {int64_t(0), int64_t(-1), kMin, kMax})
    json.Number(n);
  json.EndArray();
  EXPECT_EQ(json.Text(), "[\n  0,\n  -1,\n  -9223372036854775808,\n  9223372036854775807\n]");
  const QJsonArray array = parse(json.Text()).array();
  ASSERT_EQ(array.size(), 4);
  EXPECT_EQ(array.at(2).toInteger(), kMin);
  EXPECT_EQ(array.at(3).toInteger(), kMax);
}

TEST(JsonWriter, EscapesAndReplacesInvalidUtf8) {
  struct Case {
    std::string in;
    const char *written; // between the quotes
    std::string decoded; // UTF-8 of what a reader gets
  } cases[] = {
      {"say \"hi\"", R"(say \"hi\")", "say \"hi\""},
      {"C:\\dir", R"(C:\\dir)", "C:\\dir"},
      {"a\nb\rc\td", R"(a\nb\rc\td)", "a\nb\rc\td"},
      {std::string("\0\x01\x08\x0c\x1f", 5), R"(\u0000\u0001\u0008\u000c\u001f)",
       std::string("\0\x01\x08\x0c\x1f", 5)},
      {"/ \x7f", "/ \x7f", "/ \x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      // Each broken sequence is one U+FFFD, as far as it is the start of a valid one.
      {"a\xff"
       "b",
       "a\xef\xbf\xbd"
       "b",
       "a\xef\xbf\xbd"
       "b"},
      {"\xe2\x82", "\xef\xbf\xbd", "\xef\xbf\xbd"},
      {"\xe2\x82"
       "A",
       "\xef\xbf\xbd"
       "A",
       "\xef\xbf\xbd"
       "A"},
      {"\xf0\x9f\x98", "\xef\xbf\xbd", "\xef\xbf\xbd"},
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd",
       "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd", "\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd",
       "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\x80\"", "\xef\xbf\xbd\\\"", "\xef\xbf\xbd\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.written);
    TJsonWriter json;
    json.BeginObject();
    json.Key(c.in);
    json.String(c.in);
    json.EndObject();
    const std::string quoted = std::string("\"") + c.written + "\"";
    EXPECT_EQ(json.Text(), "{\n  " + quoted + ": " + quoted + "\n}");
    const QJsonObject object = parse(json.Text()).object();
    ASSERT_EQ(object.size(), 1);
    const QString expected = QString::fromUtf8(QByteArray::fromStdString(c.decoded));
    EXPECT_EQ(object.begin().key(), expected);
    EXPECT_EQ(object.begin().value().toString(), expected);
  }
}

} // namespace
