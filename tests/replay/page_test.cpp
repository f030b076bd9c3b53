// The replay page writer: base64 of the source, the escape that keeps data
// inside its <script> element, the cut of the viewer at its places, and a whole
// page built from hostile names, sources and frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "compiler/pipeline.h"
#include "json/game_facts_json.h"
#include "replay/assets.h"
#include "replay/page.h"

namespace prendax {
namespace {

std::string base64(std::string_view bytes) {
    std::string out(base64_length(bytes.size()), '?');
    std::size_t n = base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    EXPECT_EQ(n, out.size());
    return out;
}

TEST(ReplayBase64, KnownVectors) {
    struct Case {
        std::string_view bytes;
        const char* text;
    };
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string_view("\xff\xfe\x00", 3), "//4A"},
        {"\xfb\xff", "+/8="},
        {"</script>", "PC9zY3JpcHQ+"},
    };
    for (const Case& c : cases) EXPECT_EQ(base64(c.bytes), c.text) << "bytes: " << c.bytes;
}

// Everything a FILE received, read back.
std::string contents(std::FILE* file) {
    std::string text;
    std::fflush(file);
    std::rewind(file);
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    return text;
}

struct TempFile {
    std::FILE* file = std::tmpfile();
    ~TempFile() {
        if (file != nullptr) std::fclose(file);
    }
};

TEST(ReplayScriptText, EveryLessThanIsEscaped) {
    struct Case {
        const char* json;
        const char* written;
    };
    const Case cases[] = {
        {"", ""},
        {"{\"a\":1}", "{\"a\":1}"},
        {"\"</script>\"", "\"\\u003c/script>\""},
        {"\"<!--<<\"", "\"\\u003c!--\\u003c\\u003c\""},
        {"<", "\\u003c"},
    };
    for (const Case& c : cases) {
        TempFile tmp;
        ASSERT_NE(tmp.file, nullptr);
        write_script_text(tmp.file, c.json);
        EXPECT_EQ(contents(tmp.file), c.written) << "json: " << c.json;
    }
}

TEST(ReplayTemplate, ViewerHasItsPlacesInOrder) {
    PageTemplate page;
    ASSERT_TRUE(split_page(viewer_html(), page));
    std::string whole = std::string(page.head) + std::string(STYLE_PLACE) + std::string(page.beforeData) +
                        std::string(DATA_PLACE) + std::string(page.afterData) + std::string(SCRIPT_PLACE) +
                        std::string(page.tail);
    EXPECT_EQ(whole, viewer_html());
    EXPECT_FALSE(viewer_css().empty());
    EXPECT_FALSE(viewer_js().empty());
}

TEST(ReplayTemplate, MissingOrMisplacedPlacesAreRefused) {
    const std::string style(STYLE_PLACE), data(DATA_PLACE), script(SCRIPT_PLACE);
    const std::string pages[] = {
        "", style + data, style + script, data + script, data + style + script, style + script + data,
    };
    for (const std::string& p : pages) {
        PageTemplate page;
        EXPECT_FALSE(split_page(p, page)) << p;
    }
    PageTemplate page;
    const std::string good = "a" + style + "b" + data + "c" + script + "d";
    EXPECT_TRUE(split_page(good, page));
    EXPECT_EQ(page.head, "a");
    EXPECT_EQ(page.beforeData, "b");
    EXPECT_EQ(page.afterData, "c");
    EXPECT_EQ(page.tail, "d");
}

std::size_t count(const std::string& text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

// A program whose comments, a path and a frame all try to end the data early:
// only the writer's own closing tags may appear, and the data stays intact.
// The facts every page that draws a match reads instead of restating them.
TEST(ReplayPage, GameFactsDocument) {
    char buffer[GAME_FACTS_JSON_CAPACITY];
    game_facts_to_json(buffer, sizeof buffer);
    EXPECT_STREQ(buffer,
                 "{\"width\":480,\"height\":640,\"startHealth\":100,\"playerHitFlash\":8,\"enemyHitFlash\":6,"
                 "\"gameStatus\":{\"jugando\":0,\"victoria\":1,\"derrota\":2},"
                 "\"enemyTypes\":{\"light\":0,\"medium\":1,\"heavy\":2},"
                 "\"explosionKinds\":{\"hit\":0,\"destroy\":1,\"shield\":2}}");
}

TEST(ReplayPage, HostileTextStaysInsideItsData) {
    const std::string source =
        "// </script><script>alert(1)</script> <!-- \xff\xfe\r\n"
        "SET a 1\n"
        "// </SCRIPT> </style>\n";
    auto compiler = std::make_unique<CompilerContext>();
    auto result = std::make_unique<CompileResult>();
    ASSERT_EQ(compile_source(source.c_str(), result.get(), compiler.get()), 1);

    TempFile tmp;
    ASSERT_NE(tmp.file, nullptr);
    PageInfo info{"x</script><b>.zkv", source.c_str(), source.size(), 900, 7, 2};
    ASSERT_TRUE(page_begin(tmp.file, info, *result));
    page_add_frame(tmp.file, "{\"vm\":{\"m\":\"a<b\"},\"game\":{}}");
    page_add_frame(tmp.file, "{\"vm\":{},\"game\":{}}");
    page_end(tmp.file);
    std::string page = contents(tmp.file);

    // The meta block, the frames block and the inline script: no other closer.
    EXPECT_EQ(count(page, "</script"), 3u);
    EXPECT_EQ(count(page, "</SCRIPT"), 0u);
    EXPECT_EQ(count(page, "</style"), 1u);
    EXPECT_NE(page.find("\"name\":\"x\\u003c/script>\\u003cb>.zkv\""), std::string::npos);
    EXPECT_NE(page.find("\"ticks\":900,\"seed\":7,\"level\":2"), std::string::npos);
    EXPECT_NE(page.find("\"source\":\"" + base64(source) + "\""), std::string::npos);
    // Frames one a line, in the order given, right after the frames block opens.
    EXPECT_NE(page.find("id=\"replay-frames\">\n{\"vm\":{\"m\":\"a\\u003cb\"},\"game\":{}}\n"
                        "{\"vm\":{},\"game\":{}}\n</script>"),
              std::string::npos);
    // SET a 1 is PUSH, STORE on line 2, then the closing HALT on line 0.
    EXPECT_NE(page.find("\"code\":[{\"op\":\"PUSH\",\"operand\":\"1\",\"line\":2},"
                        "{\"op\":\"STORE\",\"operand\":\"a\",\"line\":2},"
                        "{\"op\":\"HALT\",\"operand\":\"\",\"line\":0}]"),
              std::string::npos);
    // The viewer's own placeholders are all replaced.
    EXPECT_EQ(page.find(STYLE_PLACE), std::string::npos);
    EXPECT_EQ(page.find(DATA_PLACE), std::string::npos);
    EXPECT_EQ(page.find(SCRIPT_PLACE), std::string::npos);
    EXPECT_NE(page.find(viewer_js()), std::string::npos);
    EXPECT_NE(page.find(viewer_css()), std::string::npos);
}

}  // namespace
}  // namespace prendax
