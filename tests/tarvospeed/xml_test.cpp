#include <gtest/gtest.h>

#include "speed/gbk_xml.h"
#include "speed/video_category.h"
#include "speed/video_filter.h"
#include "speed/video_item.h"
#include "speed_fixture.h"

namespace {

using tarvo_test::read_file;
using tarvo_test::write_file;
using tarvospeed::TVideoCategoryTree;
using tarvospeed::TVideoFilterList;
using tarvospeed::TVideoItem;
using tarvospeed::TVideoItemList;

const char* const kCeShi = "\xe6\xb5\x8b\xe8\xaf\x95";  // "测试" in UTF-8
const char* const kCeShiGbk = "\xb2\xe2\xca\xd4";       // the same in GB2312

class LibraryXml : public ::testing::Test {
  protected:
    std::string video(const std::string& name) {
        std::string p = env.dir.file(name);
        write_file(p, "FLV");
        return p;
    }
    speed_test::SpeedEnv env;
};

TEST_F(LibraryXml, VideosWrittenByTheProgramReadBackEqual) {
    TVideoItemList list;
    auto a = std::make_unique<TVideoItem>();
    a->Title = std::string(kCeShi) + " & <一>";
    a->Path = video("a.flv");
    a->GrabPath = env.dir.file("bmp/a.bmp");
    a->Descr = "line one\r\n第二行";
    a->AddSpecial(1);
    a->AddSpecial(3);
    auto b = std::make_unique<TVideoItem>();
    b->Title = "b";
    b->Path = video("b.flv");
    std::string pa = a->Path, pb = b->Path;
    list.Add(pa, std::move(a));
    list.Add(pb, std::move(b));
    const std::string file = env.dir.file("videos.xml");
    ASSERT_EQ(list.SaveToXml(file), 0);

    std::string raw = read_file(file);
    EXPECT_EQ(raw.rfind("<?xml version=\"1.0\" encoding=\"GB2312\"?>", 0), 0u) << raw;
    EXPECT_NE(raw.find(kCeShiGbk), std::string::npos);
    EXPECT_EQ(raw.find('\n', raw.find("?>")), raw.npos) << "no indentation";
    // Tags 1 and 3: two `specials`, one `item` each.
    EXPECT_NE(raw.find("<specials><item index=\"1\"/></specials><specials><item "
                       "index=\"3\"/></specials>"),
              std::string::npos)
        << raw;

    TVideoItemList back;
    back.LoadFromXml(file);
    ASSERT_EQ(back.Count(), 2u);
    EXPECT_EQ(back.Item(0).Title, list.Item(0).Title);
    EXPECT_EQ(back.Item(0).Path, list.Item(0).Path);
    EXPECT_EQ(back.Item(0).GrabPath, list.Item(0).GrabPath);
    EXPECT_EQ(back.Item(0).Descr, list.Item(0).Descr);
    EXPECT_EQ(back.Item(0).Specials, (std::vector<int>{1, 3}));
    EXPECT_EQ(back.Item(0).Size, 3);
    EXPECT_EQ(back.Item(1).Title, "b");
    EXPECT_TRUE(back.Item(1).Specials.empty());
}

TEST_F(LibraryXml, IndependentGb2312FileLoadsByTheLayout) {
    std::string a = video("a.flv"), b = video("b.flv");
    std::string gone = env.dir.file("gone.flv");
    write_file(env.dir.file("videos.xml"),
               std::string("<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<root>\r\n"
                           "<video title=\"") +
                   kCeShiGbk + "\" path=\"" + a +
                   "\" grabpath=\"g.bmp\" descr=\"x&#10;y\" time=\"whatever\">"
                   "<specials><item index=\"2\"/></specials><other/>"
                   "<specials><item index=\"\"/><item index=\"4\"/></specials></video>\r\n"
                   "<video title=\"skipped\" path=\"\"/>\r\n"
                   "<video path=\"" +
                   b + "\"/>\r\n<video title=\"deleted\" path=\"" + gone + "\"/>\r\n</root>\r\n");
    TVideoItemList list;
    list.LoadFromXml(env.dir.file("videos.xml"));
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Item(0).Title, kCeShi);
    EXPECT_EQ(list.Item(0).GrabPath, "g.bmp");
    EXPECT_EQ(list.Item(0).Descr, "x\r\ny");
    EXPECT_EQ(list.Item(0).Specials, (std::vector<int>{2, 4}));
    EXPECT_EQ(list.Item(1).Title, b) << "no title: the path";
    EXPECT_NE(list.FindByPath(env.dir.str() + "/./A.FLV"), nullptr);
    EXPECT_EQ(list.FindByPath(gone), nullptr);

    // The deleted video is left out of the next save.
    ASSERT_EQ(list.SaveToXml(env.dir.file("videos.xml")), 0);
    EXPECT_EQ(read_file(env.dir.file("videos.xml")).find("deleted"), std::string::npos);
}

TEST_F(LibraryXml, SpecialsTreeByTheLayout) {
    std::string biaoqian = "\xb1\xea\xc7\xa9";  // "标签"
    write_file(env.dir.file("specials.xml"),
               "<?xml version=\"1.0\" encoding=\"GB2312\"?><root>"
               "<item index=\"1\" name=\"" +
                   biaoqian +
                   "\"><item index=\"5\" name=\"child\"/><item name=\"no index\"/></item>"
                   "<item index=\"2\" name=\"second\"/><item index=\"7\"/>"
                   "<item index=\"9\" name=\"after the gap\"/></root>");
    TVideoCategoryTree tree;
    ASSERT_EQ(tree.LoadFromXml(env.dir.file("specials.xml")), 0);
    auto& top = tree.Root().Children;
    ASSERT_EQ(top.size(), 2u) << "an item without a name ends its level";
    EXPECT_EQ(top[0]->Text, "标签");
    EXPECT_EQ(top[0]->StateIndex, tarvospeed::TAG_STATE_INDEX);
    ASSERT_EQ(top[0]->Children.size(), 2u);
    EXPECT_EQ(top[0]->Children[1]->Data->Index, 6) << "no index: the next one";
    EXPECT_EQ(tree.FindByIndex(5)->Name, "child");
    EXPECT_EQ(tree.FindByIndex(9), nullptr);
    EXPECT_EQ(tree.NextIndex(), 7);

    EXPECT_EQ(tree.AddCategory(nullptr, "SECOND"), nullptr) << "letter case aside";
    tarvospeed::TCategoryNode* node = nullptr;
    tarvospeed::TVideoCategory* added = tree.AddCategory(nullptr, "third", &node);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->Index, 7);
    EXPECT_FALSE(tree.RenameCategory(node, "THIRD")) << "a change of case alone is refused";
    EXPECT_TRUE(tree.RenameCategory(node, "renamed"));

    ASSERT_EQ(tree.SaveToXml(env.dir.file("out.xml")), 0);
    TVideoCategoryTree back;
    ASSERT_EQ(back.LoadFromXml(env.dir.file("out.xml")), 0);
    ASSERT_EQ(back.Root().Children.size(), 3u);
    EXPECT_EQ(back.FindByIndex(6)->Name, "no index");
    EXPECT_EQ(back.FindByIndex(7)->Name, "renamed");
    EXPECT_EQ(back.FindNode(5)->Parent->Data->Index, 1);

    std::string error;
    EXPECT_EQ(back.LoadFromXml("", &error), -1);
    EXPECT_EQ(error, "没有指定合法的路径");
}

TEST_F(LibraryXml, NextIndexFollowsTheLargest) {
    TVideoCategoryTree tree;
    EXPECT_EQ(tree.NextIndex(), 1);
    write_file(env.dir.file("s.xml"),
               "<root><item index=\"1\" name=\"a\"/><item index=\"5\" name=\"b\"/>"
               "<item index=\"2\" name=\"c\"/></root>");
    tree.LoadFromXml(env.dir.file("s.xml"));
    EXPECT_EQ(tree.NextIndex(), 6);
}

TEST_F(LibraryXml, FiltersReplaceTheDefaultsOnlyWhenRead) {
    write_file(env.dir.file("videofilters.xml"),
               "<?xml version=\"1.0\" encoding=\"GB2312\"?><root>"
               "<filter name=\".flv\" extname=\"flv\" icon=\"1\">" +
                   std::string(kCeShiGbk) + "</filter><any name=\"\"/><x name=\".mp4\"/></root>");
    TVideoFilterList list;
    list.LoadFromXml(env.dir.file("videofilters.xml"));
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Item(0).Text, kCeShi);
    EXPECT_EQ(list.Item(0).ExtName, "flv");
    EXPECT_EQ(list.FilterNames(), ".flv\n.mp4\n");
}

TEST_F(LibraryXml, DamagedFileKeepsWhatWasLoadedAndTouchesNoOther) {
    std::string a = video("a.flv");
    TVideoItemList list;
    auto item = std::make_unique<TVideoItem>();
    item->Title = "kept";
    item->Path = a;
    list.Add(a, std::move(item));
    ASSERT_EQ(list.SaveToXml(env.dir.file("videos.xml")), 0);
    write_file(env.dir.file("specials.xml"), "<root><item index=\"1\" name=\"t\"/></root>");
    write_file(env.dir.file("videofilters.xml"), "<root><f name=\".mp4\"/></root>");
    const std::string specials = read_file(env.dir.file("specials.xml"));
    const std::string filters = read_file(env.dir.file("videofilters.xml"));

    for (const char* damage : {"<root><video path=", "\xff\xff<root/>", ""}) {
        write_file(env.dir.file("videos.xml"), damage);
        list.LoadFromXml(env.dir.file("videos.xml"));
        ASSERT_EQ(list.Count(), 1u);
        EXPECT_EQ(list.Item(0).Title, "kept");
    }
    TVideoCategoryTree tree;
    tree.LoadFromXml(env.dir.file("specials.xml"));
    EXPECT_EQ(tree.Root().Children.size(), 1u);
    TVideoFilterList filter_list;
    filter_list.LoadFromXml(env.dir.file("videofilters.xml"));
    EXPECT_EQ(filter_list.FilterNames(), ".mp4\n");

    // A save that cannot be made in GB2312 leaves the file as it was.
    ASSERT_EQ(list.SaveToXml(env.dir.file("videos.xml")), 0);
    const std::string good = read_file(env.dir.file("videos.xml"));
    list.Item(0).Title = "\xf0\x9f\x98\x80";  // no such character in GBK
    EXPECT_EQ(list.SaveToXml(env.dir.file("videos.xml")), -1);
    EXPECT_EQ(read_file(env.dir.file("videos.xml")), good);
    EXPECT_EQ(read_file(env.dir.file("specials.xml")), specials);
    EXPECT_EQ(read_file(env.dir.file("videofilters.xml")), filters);
}

}  // namespace
