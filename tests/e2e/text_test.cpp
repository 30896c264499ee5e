// The player's Japanese texts in the locale's charset: UTF-8 as it is, Shift-JIS converted.
#include <gtest/gtest.h>

#include "player_run.h"

using namespace e2e;

namespace {

struct locale_case {
    const char *name;
    std::string refusal; // "コマンドが無効です。" as this locale writes it
};

const std::string refusal_utf8 = "コマンドが無効です。";
const std::string refusal_sjis =
    "\x83\x52\x83\x7d\x83\x93\x83\x68\x82\xaa\x96\xb3\x8c\xf8\x82\xc5\x82\xb7\x81\x42";

class Text : public ::testing::TestWithParam<locale_case> {};

TEST_P(Text, UnknownHelpWordIsRefusedInTheLocalesCharset) {
    temp_folder folder;
    write_wav(folder / "song.wav", 40);
    player_run run(folder.path(), input::terminal, {std::string("LC_ALL=") + GetParam().name});
    ASSERT_TRUE(run.expect(prompt("song")));
    run.type("help zzz\n");
    // The refusal has no line end: the prompt follows on its line.
    ASSERT_TRUE(
        run.expect_next("help zzz\nplease type to cmd ~$" + GetParam().refusal + prompt("song")))
        << run.output();
}

INSTANTIATE_TEST_SUITE_P(Locales, Text,
                         ::testing::Values(locale_case{"C", refusal_utf8},
                                           locale_case{"ja_JP.UTF-8", refusal_utf8},
                                           locale_case{"ja_JP.SJIS", refusal_sjis}),
                         [](const ::testing::TestParamInfo<locale_case> &info) {
                             std::string name = info.param.name;
                             for (char &c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

} // namespace
