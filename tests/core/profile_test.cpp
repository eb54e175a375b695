#include <gtest/gtest.h>

#include "profiles/profile.h"
#include "tools/nerio-pack/pack.h"

namespace {

TEST(ProgramLength, SizeClassTable) {
    struct {
        int sizeClass;
        uint32_t fx1s;
        uint32_t fx1nfx2n;
    } rows[] = {{0, 0, 0},       {1, 2000, 2000}, {2, 4000, 4000},   {3, 4000, 6000},
                {4, 4000, 8000}, {5, 4000, 8000}, {200, 4000, 8000}, {255, 4000, 8000}};
    for (const auto& r : rows) {
        uint8_t c = static_cast<uint8_t>(r.sizeClass);
        EXPECT_EQ(ProgramLengthForSizeClass(kProfileFX1S, c), r.fx1s) << r.sizeClass;
        EXPECT_EQ(ProgramLengthForSizeClass(kProfileFX1N, c), r.fx1nfx2n) << r.sizeClass;
        EXPECT_EQ(ProgramLengthForSizeClass(kProfileFX2N, c), r.fx1nfx2n) << r.sizeClass;
    }
}

TEST(Profiles, DownloadConstants) {
    struct {
        const tagProfileTraits* p;
        int32_t model;
        uint32_t maxBytes;
        int32_t maxSteps;
        uint32_t timeout;
    } rows[] = {{&kProfileFX1S, 22, 4000, 2000, 200},
                {&kProfileFX1N, 26, 16000, 8000, 500},
                {&kProfileFX2N, 24, 16000, 8000, 200}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.p->key);
        EXPECT_EQ(r.p->model.ParamBase, 0x8000u);
        EXPECT_EQ(r.p->model.CodeBase, r.p->model.ParamBase + r.p->model.ParamLength);
        EXPECT_EQ(r.p->model.ParamLength, 92u);
        EXPECT_EQ(r.p->model.ModelCode, r.model);
        EXPECT_EQ(r.p->model.MaxProgramBytes, r.maxBytes);
        EXPECT_EQ(r.p->model.MaxSteps, r.maxSteps);
        EXPECT_EQ(r.p->portTimeoutMs, r.timeout);
        EXPECT_EQ(FindProfile(r.p->key), r.p);
    }
    EXPECT_EQ(FindProfile("fx3u"), nullptr);
}

TEST(Profiles, IdentityTexts) {
    EXPECT_STREQ(kProfileFX2N.identity.titleChinese, L"[Nerio2N] CorvanePLC下载器V2.11");
    EXPECT_STREQ(kProfileFX1N.identity.titleEnglish,
                 L"[Nerio1N] Tavolin PLC Remote Update Tool V2.11");
    EXPECT_STREQ(kProfileFX1S.identity.aboutProductLine, L"Nerio1S 批量下载器V2.0");
    EXPECT_STREQ(kProfileFX1N.identity.appClass, "CFX1SApp");
    EXPECT_STREQ(kProfileFX2N.identity.dialogClass, "CFX2NDlg");
}

TEST(Profiles, DetectedFromTheDownloadersVersionBlock) {
    for (const tagProfileTraits* p : {&kProfileFX1S, &kProfileFX1N, &kProfileFX2N}) {
        std::vector<uint8_t> exe(100, 0x90);
        for (const char* c = p->identity.internalName; *c; ++c) {
            exe.push_back(static_cast<uint8_t>(*c));
            exe.push_back(0);
        }
        exe.resize(exe.size() + 50, 0);
        EXPECT_EQ(pack::DetectProfile(exe), p) << p->key;
    }
    EXPECT_EQ(pack::DetectProfile(std::vector<uint8_t>(64, 0)), nullptr);
}

}  // namespace

#include "res/catalogue.h"

namespace {

TEST(Catalogue, TextsAndComposition) {
    EXPECT_EQ(CatalogueText(kProfileFX2N, 20041), L"关闭");
    EXPECT_EQ(CatalogueText(kProfileFX2N, 30041), L"Close");
    EXPECT_EQ(CatalogueText(kProfileFX2N, 20042), L"[Nerio2N] CorvanePLC下载器V2.11");
    EXPECT_EQ(CatalogueText(kProfileFX1S, 30042),
              L"[Nerio1S] Tavolin PLC Remote Update Tool V2.11");
    EXPECT_EQ(CatalogueText(kProfileFX2N, 101), L"关于我们 (&A)...");
    EXPECT_EQ(CatalogueText(kProfileFX2N, 10101), L"");
    EXPECT_EQ(CatalogueText(kProfileFX2N, 30027) + ResultText(kProfileFX2N, 6, kEnglishOffset),
              L"Download failed: Compare file failed!");
    EXPECT_EQ(CatalogueText(kProfileFX2N, 20027) + ResultText(kProfileFX2N, 6, kChineseOffset),
              L"下载失败：比较文件失败！");
    EXPECT_EQ(ResultText(kProfileFX2N, 0, kEnglishOffset), L"");
    EXPECT_EQ(ResultText(kProfileFX2N, 13, kEnglishOffset), L"");
    // Identifiers 20013..20019 do not exist; every other base has its English twin.
    for (unsigned id = 20001; id <= 20042; ++id) {
        bool exists = id <= 20012 || id >= 20020;
        EXPECT_EQ(!CatalogueText(kProfileFX1N, id).empty(), exists) << id;
        EXPECT_EQ(!CatalogueText(kProfileFX1N, id + 10000).empty(), exists) << id + 10000;
    }
}

}  // namespace
