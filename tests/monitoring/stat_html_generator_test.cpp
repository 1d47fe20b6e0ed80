// The statistics page: value tokens, sections over lists and child nodes,
// text that only looks like a token, and a whole page against golden text.
#include "monitoring/stat_html_generator.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

// A node with fixed values, children and lists.
struct Node : Stat::Object {
  std::map<std::string, std::string> values;
  std::map<std::string, Node*> children;
  std::map<std::string, std::vector<Node*>> lists;

  Node() = default;
  Node(std::initializer_list<std::pair<const std::string, std::string>> v) : values(v) {}
  Stat::Value statistics_value(const std::string& name) const override {
    auto it = values.find(name);
    return it == values.end() ? Stat::Value() : Stat::Value(it->second);
  }
  Stat::Object* statistics_object(const std::string& name) const override {
    auto it = children.find(name);
    return it == children.end() ? nullptr : it->second;
  }
  std::unique_ptr<Stat::IteratorBase> statistics_iterator(const std::string& name) const override {
    auto it = lists.find(name);
    return it == lists.end() ? nullptr : std::make_unique<Iterator>(it->second);
  }
  struct Iterator : Stat::IteratorBase {
    explicit Iterator(const std::vector<Node*>& n) : nodes(n) {}
    bool valid() const override { return at < nodes.size(); }
    bool next() override { return ++at < nodes.size(); }
    Stat::Object& object() const override { return *nodes[at]; }
    const std::vector<Node*>& nodes;
    std::size_t at = 0;
  };
};

std::string page(Node& root, const std::string& in, bool* ok = nullptr) {
  std::istringstream template_text(in);
  std::ostringstream out;
  const bool result = Stat::Html::generateV1(root, out, template_text);
  if (ok) *ok = result;
  return out.str();
}

TEST(StatPage, ValueTokensAreReplacedOrLeftAsTheyStandAndTagsAreCopied) {
  Node root({{"x", "7"}}), empty, tricky({{"v", "%x%<!--GEN.end-->"}});
  EXPECT_EQ(page(root, "a%x%b"), "a7b");
  EXPECT_EQ(page(empty, "a%x%b"), "a%x%b");
  EXPECT_EQ(page(root, "100%% of %x%%%"), "100%% of 7%%");
  EXPECT_EQ(page(tricky, "[%v%]"), "[%x%<!--GEN.end-->]");  // a value is not read as a template
  for (const char* text : {"<!-- a comment -->", "<!- almost -->", "<!--GE-->", "<!--GEN->", "a < b > c", "<!---->"})
    EXPECT_EQ(page(root, text), text);
  // Inside a tag or a comment text is copied without looking for values.
  EXPECT_EQ(page(root, "<td width=\"%x%\">%x%</td>"), "<td width=\"%x%\">7</td>");
  EXPECT_EQ(page(root, "<!-- every %x% s -->"), "<!-- every %x% s -->");
}

TEST(StatPage, SectionsRepeatPerElementNestAndVanishWhenEmptyOrAbsent) {
  Node b1({{"n", "b1"}}), b2({{"n", "b2"}}), b3({{"n", "b3"}}), a1({{"n", "a1"}}), a2({{"n", "a2"}});
  Node card({{"temp", "41"}}), root({{"unit", "s"}});
  a1.lists["sub"] = {&b1, &b2};
  a2.lists["sub"] = {&b3};
  root.lists = {{"list", {&b1, &b2, &b3}}, {"none", {}}, {"outer", {&a1, &a2}}};
  root.children = {{"card", &card}, {"a-b", &card}};
  EXPECT_EQ(page(root, "<!--GEN.list-->[%n%]<!--GEN.end-->"), "[b1][b2][b3]");
  EXPECT_EQ(page(root, "a<!--GEN.none-->[%n%]<!--GEN.end-->b<!--GEN.absent-->%n%<!--GEN.end-->c"), "abc");
  EXPECT_EQ(page(root, "<!--GEN.list-->%n%%unit% <!--GEN.end-->."), "b1s b2s b3s .");  // from the nodes around
  EXPECT_EQ(page(root, "<!--GEN.outer-->%n%(<!--GEN.sub-->%n%,<!--GEN.end-->)<!--GEN.end-->"), "a1(b1,b2,)a2(b3,)");
  EXPECT_EQ(page(root, "<!--GEN.card-->T=%temp%<!--GEN.end--><!--GEN.a-b-->%temp%<!--GEN.end-->"), "T=4141");
  // Inside a dropped section everything is dropped, nested end marks too.
  EXPECT_EQ(page(root, "x<!--GEN.gone-->%n%<!--GEN.outer-->%n%<!--GEN.end-->y<!--GEN.end-->z"), "xz");
}

TEST(StatPage, NothingIsLostToAMarkOrTokenTheTemplateLeavesOpen) {
  Node e1({{"v", "1"}}), e2({{"v", "2"}}), root({{"x", "7"}});
  root.lists["l"] = {&e1, &e2};
  EXPECT_EQ(page(root, "%x% 50% off"), "7 50% off");
  EXPECT_EQ(page(root, "a <"), "a <");
  EXPECT_EQ(page(root, "a <!--GEN.unfinished"), "a <!--GEN.unfinished");
  EXPECT_EQ(page(root, "a<!--GEN.end-->%x%"), "a7");  // an end mark that closes nothing
  EXPECT_EQ(page(root, "<!--GEN.l-->[%v%]"), "[1][2]");  // a section never closed
}

// A stream that can only be read forward.
struct ForwardOnly : std::streambuf {
  explicit ForwardOnly(std::string t) : text(std::move(t)) {
    setg(text.data(), text.data(), text.data() + text.size());
  }
  std::string text;
};

TEST(StatPage, AListThatCannotBeReadAgainIsReportedNotRepeatedWrong) {
  Node e1({{"v", "1"}}), e2({{"v", "2"}}), root;
  root.lists = {{"l", {&e1, &e2}}, {"one", {&e1}}};
  ForwardOnly buf("<!--GEN.l-->[%v%]<!--GEN.end-->after<!--GEN.one-->[%v%]<!--GEN.end-->");
  std::istream in(&buf);
  std::ostringstream out;
  EXPECT_FALSE(Stat::Html::generateV1(root, out, in));
  EXPECT_EQ(out.str(), "[1]after[1]");
}

TEST(StatPage, APageOfCountersMatchesItsGoldenText) {
  Node d0({{"name", "E1-0"}, {"rx", "18342"}, {"tx", "18339"}, {"errors", "0"}});
  Node d1({{"name", "E1-1"}, {"rx", "0"}, {"tx", "7"}, {"errors", "12"}});
  Node d2({{"name", "BRI-4"}, {"rx", "955"}, {"tx", "961"}});
  Node clock({{"source", "trunk 1"}}), root({{"board", "gw-07"}, {"uptime", "3d 04:11"}});
  root.lists = {{"links", {&d0, &d1, &d2}}, {"alarms", {}}};
  root.children["clock"] = &clock;

  const std::string in =
      "<html><head><title>%board% statistics</title></head>\n"
      "<body>\n"
      "<!-- refreshed every %period% s -->\n"
      "<h1>%board%</h1><p>up %uptime%, 100%% of links shown</p>\n"
      "<table border=\"1\">\n"
      "<tr><th>link</th><th>rx</th><th>tx</th><th>errors</th></tr>\n"
      "<!--GEN.links--><tr><td>%name%</td><td>%rx%</td><td>%tx%</td><td>%errors%</td></tr>\n"
      "<!--GEN.end--></table>\n"
      "<!--GEN.clock--><p>clock: %source% on %board%</p><!--GEN.end-->\n"
      "<!--GEN.fans--><p>fans: %speed%</p><!--GEN.end-->\n"
      "<!--GEN.alarms--><p class=\"alarm\">%text%</p>\n<!--GEN.end-->"
      "</body></html>\n";
  const std::string golden =
      "<html><head><title>gw-07 statistics</title></head>\n"
      "<body>\n"
      "<!-- refreshed every %period% s -->\n"
      "<h1>gw-07</h1><p>up 3d 04:11, 100%% of links shown</p>\n"
      "<table border=\"1\">\n"
      "<tr><th>link</th><th>rx</th><th>tx</th><th>errors</th></tr>\n"
      "<tr><td>E1-0</td><td>18342</td><td>18339</td><td>0</td></tr>\n"
      "<tr><td>E1-1</td><td>0</td><td>7</td><td>12</td></tr>\n"
      "<tr><td>BRI-4</td><td>955</td><td>961</td><td>%errors%</td></tr>\n"
      "</table>\n"
      "<p>clock: trunk 1 on gw-07</p>\n"
      "\n"
      "</body></html>\n";
  bool ok = false;
  EXPECT_EQ(page(root, in, &ok), golden);
  EXPECT_TRUE(ok);
}

}  // namespace
