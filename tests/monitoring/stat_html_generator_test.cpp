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
class Node : public Stat::Object {
 public:
  Node& value(const std::string& name, const std::string& text) {
    values_[name] = text;
    return *this;
  }
  Node& child(const std::string& name, Node* node) {
    children_[name] = node;
    return *this;
  }
  Node& list(const std::string& name, std::vector<Node*> nodes) {
    lists_[name] = std::move(nodes);
    return *this;
  }

  Stat::Value statistics_value(const std::string& name) const override {
    auto it = values_.find(name);
    return it == values_.end() ? Stat::Value() : Stat::Value(it->second);
  }
  Stat::Object* statistics_object(const std::string& name) const override {
    auto it = children_.find(name);
    return it == children_.end() ? nullptr : it->second;
  }
  std::unique_ptr<Stat::IteratorBase> statistics_iterator(const std::string& name) const override {
    auto it = lists_.find(name);
    if (it == lists_.end()) return nullptr;
    return std::make_unique<Iterator>(it->second);
  }

 private:
  class Iterator : public Stat::IteratorBase {
   public:
    explicit Iterator(const std::vector<Node*>& nodes) : nodes_(nodes) {}
    bool valid() const override { return at_ < nodes_.size(); }
    bool next() override { return ++at_ < nodes_.size(); }
    Stat::Object& object() const override { return *nodes_[at_]; }

   private:
    const std::vector<Node*>& nodes_;
    std::size_t at_ = 0;
  };

  std::map<std::string, std::string> values_;
  std::map<std::string, Node*> children_;
  std::map<std::string, std::vector<Node*>> lists_;
};

std::string page(Node& root, const std::string& in, bool* ok = nullptr) {
  std::istringstream template_text(in);
  std::ostringstream out;
  const bool result = Stat::Html::generateV1(root, out, template_text);
  if (ok) *ok = result;
  return out.str();
}

TEST(StatPage, ValueTokensAreReplacedOrLeftAsTheyStand) {
  Node root;
  root.value("x", "7");
  EXPECT_EQ(page(root, "a%x%b"), "a7b");
  Node empty;
  EXPECT_EQ(page(empty, "a%x%b"), "a%x%b");
  EXPECT_EQ(page(root, "100%% of %x%%%"), "100%% of 7%%");
  EXPECT_EQ(page(root, "%x%%x%"), "77");
  // A value's text is written as it is, not read as a template again.
  Node tricky;
  tricky.value("v", "%x%<!--GEN.end-->");
  EXPECT_EQ(page(tricky, "[%v%]"), "[%x%<!--GEN.end-->]");
}

TEST(StatPage, OrdinaryTagsAndCommentsAreCopiedUnchanged) {
  Node root;
  root.value("x", "7");
  for (const std::string text :
       {"<p class=\"a\">%x%</p>", "<!-- a comment -->", "<!- almost -->", "<!--GE-->", "<!--GEN->", "<b>x</b>",
        "a < b > c", "<br/>\n<!---->"}) {
    std::string expected = text;
    const std::size_t at = expected.find("%x%");
    if (at != std::string::npos) expected.replace(at, 3, "7");
    EXPECT_EQ(page(root, text), expected) << text;
  }
  // Inside a tag text is copied without looking for values.
  EXPECT_EQ(page(root, "<td width=\"%x%\">%x%</td>"), "<td width=\"%x%\">7</td>");
  EXPECT_EQ(page(root, "<!-- every %x% s -->"), "<!-- every %x% s -->");
}

TEST(StatPage, ListSectionsRepeatPerElementAndEmptyOnesVanish) {
  Node one, two, three;
  one.value("v", "1");
  two.value("v", "2");
  three.value("v", "3");
  Node root;
  root.list("list", {&one, &two, &three}).list("none", {});
  EXPECT_EQ(page(root, "<!--GEN.list-->[%v%]<!--GEN.end-->"), "[1][2][3]");
  EXPECT_EQ(page(root, "a<!--GEN.none-->[%v%]<!--GEN.end-->b"), "ab");
  EXPECT_EQ(page(root, "a<!--GEN.absent-->[%v%]<!--GEN.end-->b"), "ab");
  // A value the element lacks comes from the nodes around it.
  root.value("unit", "s");
  EXPECT_EQ(page(root, "<!--GEN.list-->%v%%unit% <!--GEN.end-->."), "1s 2s 3s .");
}

TEST(StatPage, SectionsNestOverListsChildrenAndDroppedParts) {
  Node a1, a2, b1, b2, b3, card, root;
  a1.value("n", "a1");
  a2.value("n", "a2");
  b1.value("n", "b1");
  b2.value("n", "b2");
  b3.value("n", "b3");
  a1.list("sub", {&b1, &b2});
  a2.list("sub", {&b3});
  card.value("temp", "41");
  root.list("outer", {&a1, &a2}).child("card", &card);
  EXPECT_EQ(page(root, "<!--GEN.outer-->%n%(<!--GEN.sub-->%n%,<!--GEN.end-->)<!--GEN.end-->"), "a1(b1,b2,)a2(b3,)");
  EXPECT_EQ(page(root, "<!--GEN.card-->T=%temp%<!--GEN.end-->"), "T=41");
  // Everything inside a dropped section is dropped, nested sections and
  // their end marks included; the text after it is not.
  EXPECT_EQ(page(root, "x<!--GEN.gone-->%n%<!--GEN.outer-->%n%<!--GEN.end-->y<!--GEN.end-->z"), "xz");
  // A section name may hold single dashes.
  Node dashed;
  dashed.value("v", "d");
  root.child("a-b", &dashed);
  EXPECT_EQ(page(root, "<!--GEN.a-b-->%v%<!--GEN.end-->"), "d");
}

TEST(StatPage, NothingIsLostToAMarkOrTokenTheTemplateLeavesOpen) {
  Node root;
  root.value("x", "7");
  // A lone "%" opens a token the input never closes: the text after it is
  // still text.
  EXPECT_EQ(page(root, "50% off"), "50% off");
  EXPECT_EQ(page(root, "%x% 50% off"), "7 50% off");
  EXPECT_EQ(page(root, "<p>50% off</p>"), "<p>50% off</p>");
  EXPECT_EQ(page(root, "a <"), "a <");
  EXPECT_EQ(page(root, "a <!--GEN.unfinished"), "a <!--GEN.unfinished");
  // An end mark with no section open closes nothing.
  EXPECT_EQ(page(root, "a<!--GEN.end-->%x%"), "a7");
  // A section the template never closes runs to the end of the input.
  Node e1, e2;
  e1.value("v", "1");
  e2.value("v", "2");
  root.list("l", {&e1, &e2});
  EXPECT_EQ(page(root, "<!--GEN.l-->[%v%]"), "[1][2]");
}

// A stream that can only be read forward.
class ForwardOnly : public std::streambuf {
 public:
  explicit ForwardOnly(std::string text) : text_(std::move(text)) {
    setg(text_.data(), text_.data(), text_.data() + text_.size());
  }

 private:
  std::string text_;
};

TEST(StatPage, AListThatCannotBeReadAgainIsReportedNotRepeatedWrong) {
  Node e1, e2, root;
  e1.value("v", "1");
  e2.value("v", "2");
  root.list("l", {&e1, &e2}).list("single", {&e1});
  ForwardOnly buf("<!--GEN.l-->[%v%]<!--GEN.end-->after");
  std::istream in(&buf);
  std::ostringstream out;
  EXPECT_FALSE(Stat::Html::generateV1(root, out, in));
  EXPECT_EQ(out.str(), "[1]after");
  // One element needs no second reading.
  ForwardOnly single("<!--GEN.single-->[%v%]<!--GEN.end-->");
  std::istream in1(&single);
  std::ostringstream out1;
  EXPECT_TRUE(Stat::Html::generateV1(root, out1, in1));
  EXPECT_EQ(out1.str(), "[1]");
}

TEST(StatPage, APageOfCountersMatchesItsGoldenText) {
  Node d0, d1, d2, clock, root;
  d0.value("name", "E1-0").value("rx", "18342").value("tx", "18339").value("errors", "0");
  d1.value("name", "E1-1").value("rx", "0").value("tx", "7").value("errors", "12");
  d2.value("name", "BRI-4").value("rx", "955").value("tx", "961");
  clock.value("source", "trunk 1");
  root.value("board", "gw-07").value("uptime", "3d 04:11").list("links", {&d0, &d1, &d2}).list("alarms", {});
  root.child("clock", &clock);

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
