#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FileTypeIcons.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "TestSupport.h"

using namespace orvane;

namespace {

// A unique extension and class under HKEY_CLASSES_ROOT, plus any further classes a test
// asks for; every one of them is put back when the test ends.
class FileTypeIconsTest : public testing::Test {
public:
    // Another guarded class name; the suffix keeps names of one test apart.
    std::wstring NewClass(const std::wstring& name = std::wstring())
    {
        const std::wstring className = name.empty() ? test::UniqueName(L"") + L"cls" : name;
        guards_.push_back(std::make_unique<test::KeyGuard>(HKEY_CLASSES_ROOT, className));
        return className;
    }

    static void PointExtension(const std::wstring& ext, const std::wstring& className)
    {
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext, L"", className));
    }
    static void SetIconValue(const std::wstring& className, const wchar_t* valueName, const std::wstring& text)
    {
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, className + L"\\DefaultIcon", valueName, text));
    }
    static void SetCurVer(const std::wstring& className, const std::wstring& target)
    {
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, className + L"\\CurVer", L"", target));
    }
    static bool ReadIconValue(const std::wstring& className, const wchar_t* valueName, std::wstring* text,
                              DWORD* type = nullptr)
    {
        return test::ReadValue(HKEY_CLASSES_ROOT, className + L"\\DefaultIcon", valueName, text, type);
    }
    static std::wstring ClassOf(const std::wstring& ext)
    {
        std::wstring text;
        return test::ReadValue(HKEY_CLASSES_ROOT, ext, L"", &text) ? text : std::wstring(L"<none>");
    }
    IconLocation Record(const wchar_t* iconPath, std::int32_t index) const
    {
        IconLocation location(iconPath, ext_.c_str(), index);
        location.SetTypeKey(class_.c_str());
        return location;
    }

    test::ScratchType type_{false};
    const std::wstring& ext_ = type_.Extension;
    const std::wstring& class_ = type_.Class;

private:
    std::vector<std::unique_ptr<test::KeyGuard>> guards_;
};

using ReadOperation = std::optional<IconLocation> (*)(const wchar_t*);
using WriteOperation = LONG (*)(const IconLocation&, Scope);

struct ValueOps {
    const char* Label;
    const wchar_t* ValueName; // null: the default value
    ReadOperation Read;
    WriteOperation Write;
    bool KeepsExtension;
};

const ValueOps AllValueOps[] = {
    {"default", nullptr, [](const wchar_t* extension) { return ReadTypeIcon(extension, nullptr, true); },
     WriteTypeDefaultIcon, true},
    {"backup", BackupIconValue, ReadTypeBackupIcon, WriteTypeBackupIcon, false},
    {"handler", HandlerIconValue, ReadTypeHandlerIcon, WriteTypeHandlerIcon, true},
};

// ---------------------------------------------------------------------------------------
// Reading

TEST_F(FileTypeIconsTest, ReadsEachValueInShortFormWithItsOwner)
{
    struct TextCase {
        const wchar_t* Text;
        const wchar_t* IconPath;
        std::int32_t Index;
    };
    const TextCase texts[] = {
        {L"C:\\icons\\a.ico,3", L"C:\\icons\\a.ico", 3},
        {L"", L"", NoIndex},
        {L"%1", L"%1", NoIndex},
        {L"shell32.dll,4,abc", L"shell32.dll", 4},
        {L"%SystemRoot%\\system32\\shell32.dll,-3", L"%SystemRoot%\\system32\\shell32.dll", -3},
        {L"a.dll,4294967197", L"a.dll", NoIndex},
        {L"\"C:\\with space\\b.ico\",2", L"\"C:\\with space\\b.ico\"", 2},
    };
    PointExtension(ext_, class_);
    for (const auto& ops : AllValueOps) {
        for (const auto& t : texts) {
            SCOPED_TRACE(ops.Label + std::string(": ") + test::Utf8(t.Text));
            SetIconValue(class_, ops.ValueName, t.Text);
            const auto location = ops.Read(ext_.c_str());
            ASSERT_TRUE(location);
            EXPECT_STREQ(t.IconPath, location->IconPath);
            EXPECT_EQ(t.Index, location->Index);
            EXPECT_EQ(class_, location->TypeKey);
            EXPECT_STREQ(ops.KeepsExtension ? ext_.c_str() : L"", location->TargetName);
        }
    }
}

TEST_F(FileTypeIconsTest, OnlyTheRequestedValueIsRead)
{
    PointExtension(ext_, class_);
    SetIconValue(class_, nullptr, L"d.ico,1");
    SetIconValue(class_, BackupIconValue, L"b.ico,2");
    SetIconValue(class_, HandlerIconValue, L"h.ico,3");
    const auto d = ReadTypeIcon(ext_.c_str(), nullptr, true);
    const auto b = ReadTypeBackupIcon(ext_.c_str());
    const auto h = ReadTypeHandlerIcon(ext_.c_str());
    ASSERT_TRUE(d && b && h);
    EXPECT_STREQ(L"d.ico", d->IconPath);
    EXPECT_STREQ(L"b.ico", b->IconPath);
    EXPECT_STREQ(L"h.ico", h->IconPath);
}

TEST_F(FileTypeIconsTest, MissingPiecesYieldNone)
{
    struct Case {
        const char* Label;
        void (*Arrange)(FileTypeIconsTest& t);
    };
    const Case cases[] = {
        {"no extension key", [](FileTypeIconsTest&) {}},
        {"extension key without default value",
         [](FileTypeIconsTest& t) { test::WriteString(HKEY_CLASSES_ROOT, t.ext_, L"other", t.class_); }},
        {"extension names an empty class", [](FileTypeIconsTest& t) { PointExtension(t.ext_, L""); }},
        {"class key missing", [](FileTypeIconsTest& t) { PointExtension(t.ext_, t.class_); }},
        {"class without DefaultIcon and CurVer",
         [](FileTypeIconsTest& t) {
             PointExtension(t.ext_, t.class_);
             test::WriteString(HKEY_CLASSES_ROOT, t.class_ + L"\\shell", L"", L"x");
         }},
        {"DefaultIcon without the value, CurVer class has one",
         [](FileTypeIconsTest& t) {
             PointExtension(t.ext_, t.class_);
             SetIconValue(t.class_, L"unrelated", L"u.ico,1");
             const std::wstring next = t.NewClass();
             SetCurVer(t.class_, next);
             SetIconValue(next, nullptr, L"C:\\icons\\a.ico,3");
         }},
        {"CurVer key without default value",
         [](FileTypeIconsTest& t) {
             PointExtension(t.ext_, t.class_);
             test::WriteString(HKEY_CLASSES_ROOT, t.class_ + L"\\CurVer", L"x", L"y");
         }},
        {"CurVer names an empty class",
         [](FileTypeIconsTest& t) {
             PointExtension(t.ext_, t.class_);
             SetCurVer(t.class_, L"");
         }},
        {"CurVer names a missing class",
         [](FileTypeIconsTest& t) {
             PointExtension(t.ext_, t.class_);
             SetCurVer(t.class_, t.NewClass());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        test::DeleteKeyTree(HKEY_CLASSES_ROOT, ext_);
        test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_);
        c.Arrange(*this);
        EXPECT_FALSE(ReadTypeIcon(ext_.c_str(), nullptr, true));
        EXPECT_FALSE(ReadTypeBackupIcon(ext_.c_str()));
        EXPECT_FALSE(ReadTypeHandlerIcon(ext_.c_str()));
    }
    EXPECT_FALSE(ReadTypeIcon(L"", nullptr, true));
    EXPECT_FALSE(ReadTypeIcon(nullptr, nullptr, true));
    EXPECT_FALSE(LookupClassIcon(HKEY_CLASSES_ROOT, L"", nullptr));
    EXPECT_FALSE(LookupClassIcon(HKEY_CLASSES_ROOT, nullptr, nullptr));
    EXPECT_FALSE(LookupClassIcon(nullptr, class_.c_str(), nullptr));
}

// Registry data is not trusted: size, terminator and type all come from whoever wrote it.
TEST_F(FileTypeIconsTest, HostileIconValues)
{
    struct Case {
        const char* Label;
        DWORD Type;
        std::wstring Data; // stored as given, terminator only where written
        bool Found;
        const wchar_t* IconPath;
        std::int32_t Index;
    };
    const std::wstring spaces500(500, L' ');
    const std::wstring spaces600(600, L' ');
    const Case cases[] = {
        {"520 bytes with terminator", REG_SZ, L"a.dll," + std::wstring(252, L' ') + L"7" + L'\0', true, L"a.dll", 7},
        {"522 bytes", REG_SZ, L"a.dll," + std::wstring(253, L' ') + L"7" + L'\0', false, nullptr, 0},
        {"over 520 bytes", REG_SZ, L"a.dll," + spaces600 + L"7" + L'\0', false, nullptr, 0},
        {"520 bytes, no terminator", REG_SZ, L"a.dll," + std::wstring(253, L' ') + L"7", false, nullptr, 0},
        {"short, no terminator", REG_SZ, L"C:\\u.ico,5", true, L"C:\\u.ico", 5},
        {"path over 259 characters", REG_SZ, std::wstring(300, L'p') + L",1" + L'\0', false, nullptr, 0},
        {"expandable string stays literal", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\e.dll,2") + L'\0', true,
         L"%SystemRoot%\\e.dll", 2},
        // A number's bytes read as UTF-16 units: a DWORD holds two of them, a QWORD four.
        {"dword read as its units", REG_DWORD, std::wstring(L"AA", 2), true, L"AA", NoIndex},
        {"qword without a zero unit", REG_QWORD, std::wstring(L"7,99", 4), true, L"7", 99},
        {"binary with embedded zero", REG_BINARY, std::wstring(L"x,2\0y,3", 7), true, L"x", 2},
        {"binary of 520 non-zero bytes", REG_BINARY, std::wstring(260, L'b'), false, nullptr, 0},
        {"multi-string gives its first string", REG_MULTI_SZ, std::wstring(L"m.ico,1\0n.ico,2\0\0", 17), true,
         L"m.ico", 1},
        {"zero-length string", REG_SZ, std::wstring(), true, L"", NoIndex},
        {"lone zero unit", REG_NONE, std::wstring(1, L'\0'), true, L"", NoIndex},
    };
    PointExtension(ext_, class_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        ASSERT_TRUE(test::WriteValue(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon", L"", c.Type, c.Data.data(),
                                     static_cast<DWORD>(c.Data.size() * sizeof(wchar_t))));
        const auto location = ReadTypeIcon(ext_.c_str(), nullptr, true);
        ASSERT_EQ(c.Found, location.has_value());
        if (c.Found) {
            EXPECT_STREQ(c.IconPath, location->IconPath);
            EXPECT_EQ(c.Index, location->Index);
        }
    }
}

TEST_F(FileTypeIconsTest, HostileClassNames)
{
    struct Case {
        const char* Label;
        DWORD Type;
        std::wstring Data;
        bool Found;
    };
    const std::wstring fits = test::UniqueName(L"") + L"n";
    const Case cases[] = {
        {"unterminated class name", REG_SZ, fits, true},
        {"class name as binary with zero", REG_BINARY, fits + L'\0' + L"junk", true},
        {"class name over 259 characters", REG_SZ, fits + std::wstring(300, L'x') + L'\0', false},
        {"class name in 600 bytes", REG_SZ, std::wstring(300, L'x'), false},
    };
    NewClass(fits);
    SetIconValue(fits, nullptr, L"c.ico,8");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        ASSERT_TRUE(test::WriteValue(HKEY_CLASSES_ROOT, ext_, L"", c.Type, c.Data.data(),
                                     static_cast<DWORD>(c.Data.size() * sizeof(wchar_t))));
        const auto location = ReadTypeIcon(ext_.c_str(), nullptr, true);
        ASSERT_EQ(c.Found, location.has_value());
        if (c.Found) {
            EXPECT_EQ(fits, location->TypeKey);
            EXPECT_EQ(8, location->Index);
        }
    }
}

// Registry key names may have 255 characters, but paths are composed in 260. A class whose
// "<class>\DefaultIcon" does not fit is never opened under a cut-down name.
TEST_F(FileTypeIconsTest, ClassNamesTooLongForTheKeyPath)
{
    const std::wstring base = test::UniqueName(L"") + L"L";
    const std::wstring longName = base + std::wstring(250 - base.size(), L'q');     // 250 + 12 > 259
    const std::wstring edgeName = base + std::wstring(247 - base.size(), L'q');     // 247 + 12 = 259
    ASSERT_EQ(250u, longName.size());
    NewClass(longName);
    NewClass(edgeName);
    // The cut-down name that a truncating formatter would produce holds a decoy.
    const std::wstring truncatedPath = (longName + L"\\DefaultIcon").substr(0, TextCapacity - 1);
    const std::wstring decoyClass = truncatedPath.substr(0, truncatedPath.find(L'\\'));
    ASSERT_EQ(longName, decoyClass); // the class part is intact, the subkey name is cut
    const std::wstring decoySubkey = truncatedPath.substr(truncatedPath.find(L'\\') + 1);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, longName + L"\\" + decoySubkey, L"", L"decoy.ico,1"));
    // The real DefaultIcon is made relative to the class key, so that its path of more than
    // 260 characters is never asked for whole.
    RegKey longClass;
    RegKey longDefaultIcon;
    ASSERT_EQ(ERROR_SUCCESS, longClass.Open(HKEY_CLASSES_ROOT, longName.c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, longDefaultIcon.Create(longClass.get(), L"DefaultIcon"));
    ASSERT_EQ(ERROR_SUCCESS, WriteTextValue(longDefaultIcon.get(), nullptr, L"long.ico,1"));
    longDefaultIcon.reset();
    longClass.reset();
    SetIconValue(edgeName, nullptr, L"edge.ico,2");

    EXPECT_FALSE(LookupClassIcon(HKEY_CLASSES_ROOT, longName.c_str(), nullptr));
    const auto edge = LookupClassIcon(HKEY_CLASSES_ROOT, edgeName.c_str(), nullptr);
    ASSERT_TRUE(edge);
    EXPECT_STREQ(L"edge.ico", edge->IconPath);
    EXPECT_EQ(edgeName, edge->TypeKey);

    // Through an extension, and as the target of a CurVer, the long class yields none too.
    PointExtension(ext_, longName);
    EXPECT_FALSE(ReadTypeIcon(ext_.c_str(), nullptr, true));
    PointExtension(ext_, class_);
    SetCurVer(class_, longName);
    EXPECT_FALSE(ReadTypeIcon(ext_.c_str(), nullptr, true));
}

// ---------------------------------------------------------------------------------------
// CurVer chains

TEST_F(FileTypeIconsTest, CurVerChains)
{
    struct Case {
        const char* Label;
        int Classes;    // classes in the chain, the first being class_
        int LoopsBackTo; // -1: the last class holds the icon; otherwise its CurVer names this class
        bool UpperCaseLoop;
        bool Found;
    };
    const Case cases[] = {
        {"direct", 1, -1, false, true},
        {"one hop", 2, -1, false, true},
        {"five classes", 5, -1, false, true},
        {"32 hops", 33, -1, false, true},
        {"33 hops", 34, -1, false, false},
        {"40 classes", 40, -1, false, false},
        {"A to A", 1, 0, false, false},
        {"A to B to A", 2, 0, false, false},
        {"A to B to C to B", 3, 1, false, false},
        {"A to B to A in other case", 2, 0, true, false},
    };
    PointExtension(ext_, class_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_);
        std::vector<std::wstring> chain{class_};
        for (int i = 1; i < c.Classes; ++i)
            chain.push_back(NewClass());
        for (int i = 0; i + 1 < c.Classes; ++i)
            SetCurVer(chain[i], chain[i + 1]);
        if (c.LoopsBackTo < 0) {
            SetIconValue(chain.back(), nullptr, L"C:\\icons\\a.ico,3");
        } else {
            std::wstring target = chain[c.LoopsBackTo];
            if (c.UpperCaseLoop)
                CharUpperW(&target[0]);
            SetCurVer(chain.back(), target);
        }

        const auto location = ReadTypeIcon(ext_.c_str(), nullptr, true);
        ASSERT_EQ(c.Found, location.has_value());
        if (c.Found) {
            EXPECT_STREQ(L"C:\\icons\\a.ico", location->IconPath);
            EXPECT_EQ(3, location->Index);
            EXPECT_EQ(chain.back(), location->TypeKey);
            EXPECT_STREQ(ext_.c_str(), location->TargetName);
        }
        const auto direct = LookupClassIcon(HKEY_CLASSES_ROOT, class_.c_str(), nullptr);
        EXPECT_EQ(c.Found, direct.has_value());
        if (direct) {
            EXPECT_STREQ(L"", direct->TargetName);
        }
    }
}

TEST_F(FileTypeIconsTest, DefaultIconStopsTheChainEvenWhereCurVerHasTheValue)
{
    const std::wstring next = NewClass();
    SetCurVer(class_, next);
    SetIconValue(next, BackupIconValue, L"next.ico,1");
    SetIconValue(class_, nullptr, L"own.ico,2");
    EXPECT_FALSE(LookupClassIcon(HKEY_CLASSES_ROOT, class_.c_str(), BackupIconValue));
    const auto own = LookupClassIcon(HKEY_CLASSES_ROOT, class_.c_str(), nullptr);
    ASSERT_TRUE(own);
    EXPECT_EQ(class_, own->TypeKey);
}

TEST_F(FileTypeIconsTest, LookupUnderAnotherRoot)
{
    // The lookup works under any open key; here a private key under HKEY_CURRENT_USER.
    const std::wstring path = L"Software\\" + test::UniqueName(L"Orvane");
    test::KeyGuard guard(HKEY_CURRENT_USER, path);
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, path + L"\\E\\CurVer", L"", L"F"));
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, path + L"\\F\\DefaultIcon", L"", L"f.ico,6"));
    RegKey root;
    ASSERT_EQ(ERROR_SUCCESS, root.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ));
    const auto location = LookupClassIcon(root.get(), L"E", nullptr);
    ASSERT_TRUE(location);
    EXPECT_STREQ(L"f.ico", location->IconPath);
    EXPECT_STREQ(L"F", location->TypeKey);
    EXPECT_FALSE(LookupClassIcon(root.get(), class_.c_str(), nullptr));
}

// ---------------------------------------------------------------------------------------
// Writing

TEST_F(FileTypeIconsTest, WritingCreatesTheMissingClassAndPointsTheExtension)
{
    for (const auto& ops : AllValueOps) {
        SCOPED_TRACE(ops.Label);
        test::DeleteKeyTree(HKEY_CLASSES_ROOT, ext_);
        test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_);
        const std::wstring other = NewClass();

        // An extension that names no class is pointed at the new class.
        EXPECT_EQ(ERROR_SUCCESS, ops.Write(Record(L"C:\\w.ico", 7), Scope::AllUsers));
        EXPECT_EQ(class_, ClassOf(ext_));
        std::wstring text;
        DWORD type = 0;
        ASSERT_TRUE(ReadIconValue(class_, ops.ValueName, &text, &type));
        EXPECT_EQ(L"C:\\w.ico,7", text);
        EXPECT_EQ(DWORD(REG_SZ), type);
        EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, other + L"\\DefaultIcon"));

        const auto back = ops.Read(ext_.c_str());
        ASSERT_TRUE(back);
        EXPECT_STREQ(L"C:\\w.ico", back->IconPath);
        EXPECT_EQ(7, back->Index);
        EXPECT_EQ(class_, back->TypeKey);
    }
}

TEST_F(FileTypeIconsTest, WritingToAnExistingClassLeavesTheExtensionAndOtherValues)
{
    const std::wstring other = NewClass();
    PointExtension(ext_, other);
    SetIconValue(class_, nullptr, L"d.ico,1");
    SetIconValue(class_, BackupIconValue, L"b.ico,2");
    SetIconValue(class_, HandlerIconValue, L"h.ico,3");
    SetIconValue(class_, L"Foreign", L"keep");
    for (const auto& ops : AllValueOps) {
        SCOPED_TRACE(ops.Label);
        EXPECT_EQ(ERROR_SUCCESS, ops.Write(Record(L"new.ico", 9), Scope::AllUsers));
        std::wstring text;
        ASSERT_TRUE(ReadIconValue(class_, ops.ValueName, &text));
        EXPECT_EQ(L"new.ico,9", text);
    }
    EXPECT_EQ(other, ClassOf(ext_));
    std::wstring foreign;
    ASSERT_TRUE(ReadIconValue(class_, L"Foreign", &foreign));
    EXPECT_EQ(L"keep", foreign);
}

TEST_F(FileTypeIconsTest, IndexesAreWrittenAsSignedAndReadBack)
{
    PointExtension(ext_, class_);
    const std::int32_t indexes[] = {0, 5, -3, NoIndex, INT32_MIN, INT32_MAX};
    for (const std::int32_t index : indexes) {
        SCOPED_TRACE(index);
        ASSERT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(Record(L"i.dll", index), Scope::AllUsers));
        std::wstring text;
        ASSERT_TRUE(ReadIconValue(class_, nullptr, &text));
        EXPECT_EQ(index == NoIndex ? std::wstring(L"i.dll") : L"i.dll," + std::to_wstring(index), text);
        const auto back = ReadTypeIcon(ext_.c_str(), nullptr, true);
        ASSERT_TRUE(back);
        EXPECT_EQ(index, back->Index);
    }
}

TEST_F(FileTypeIconsTest, ARecordFoundThroughCurVerWritesIntoTheCurVerClass)
{
    const std::wstring current = NewClass();
    PointExtension(ext_, class_);
    SetCurVer(class_, current);
    SetIconValue(current, nullptr, L"C:\\icons\\a.ico,3");

    auto location = ReadTypeIcon(ext_.c_str(), nullptr, true);
    ASSERT_TRUE(location);
    ASSERT_EQ(current, location->TypeKey);
    location->SetIconPath(L"C:\\icons\\b.ico");
    location->SetIndex(4);
    EXPECT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(*location, Scope::AllUsers));
    EXPECT_EQ(ERROR_SUCCESS, WriteTypeBackupIcon(*location, Scope::AllUsers));

    std::wstring text;
    ASSERT_TRUE(ReadIconValue(current, nullptr, &text));
    EXPECT_EQ(L"C:\\icons\\b.ico,4", text);
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon"));
    EXPECT_EQ(class_, ClassOf(ext_));
    const auto again = ReadTypeIcon(ext_.c_str(), nullptr, true);
    ASSERT_TRUE(again);
    EXPECT_STREQ(L"C:\\icons\\b.ico", again->IconPath);
    const auto backup = ReadTypeBackupIcon(ext_.c_str());
    ASSERT_TRUE(backup);
    EXPECT_EQ(current, backup->TypeKey);
}

TEST_F(FileTypeIconsTest, RefusedWritesCreateNothing)
{
    const std::wstring base = test::UniqueName(L"") + L"L";
    const std::wstring longClass = base + std::wstring(250 - base.size(), L'q');
    NewClass(longClass);

    struct Case {
        const char* Label;
        std::wstring TypeKey;
        std::wstring IconPath;
        std::int32_t Index;
        LONG Status;
    };
    const Case cases[] = {
        {"no class named", L"", L"C:\\w.ico", 1, ERROR_INVALID_PARAMETER},
        {"class path does not fit", longClass, L"C:\\w.ico", 1, ERROR_FILENAME_EXCED_RANGE},
        {"text over 259 characters", class_, std::wstring(248, L'p'), -1999999999, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& ops : AllValueOps) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(ops.Label) + ": " + c.Label);
            IconLocation location(c.IconPath.c_str(), ext_.c_str(), c.Index);
            ASSERT_TRUE(location.SetTypeKey(c.TypeKey.c_str()));
            EXPECT_EQ(c.Status, ops.Write(location, Scope::AllUsers));
            EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, ext_));
            EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_));
            EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, longClass));
        }
    }
    // A text of exactly 259 characters still fits.
    IconLocation edge(std::wstring(257, L'p').c_str(), ext_.c_str(), 1);
    edge.SetTypeKey(class_.c_str());
    EXPECT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(edge, Scope::AllUsers));
    std::wstring text;
    ASSERT_TRUE(ReadIconValue(class_, nullptr, &text));
    EXPECT_EQ(259u, text.size());
}

TEST_F(FileTypeIconsTest, WritingWithoutOwnerTouchesNoExtension)
{
    IconLocation location(L"C:\\w.ico", L"", 2);
    location.SetTypeKey(class_.c_str());
    EXPECT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(location, Scope::AllUsers));
    std::wstring text;
    ASSERT_TRUE(ReadIconValue(class_, nullptr, &text));
    EXPECT_EQ(L"C:\\w.ico,2", text);
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, ext_));
}

// The ordinary life of a type's icon: back up the original, change it twice, restore.
TEST_F(FileTypeIconsTest, BackupChangeAndRestoreRoundTrip)
{
    PointExtension(ext_, class_);
    SetIconValue(class_, nullptr, L"%SystemRoot%\\orig.dll,-5");
    const auto original = ReadTypeIcon(ext_.c_str(), nullptr, true);
    ASSERT_TRUE(original);
    EXPECT_FALSE(ReadTypeBackupIcon(ext_.c_str()));

    ASSERT_EQ(ERROR_SUCCESS, WriteTypeBackupIcon(*original, Scope::AllUsers));
    ASSERT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(Record(L"C:\\first.ico", 1), Scope::AllUsers));
    ASSERT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(Record(L"C:\\second.ico", 2), Scope::AllUsers));
    const auto backup = ReadTypeBackupIcon(ext_.c_str());
    ASSERT_TRUE(backup);
    EXPECT_STREQ(L"%SystemRoot%\\orig.dll", backup->IconPath);
    EXPECT_EQ(-5, backup->Index);

    ASSERT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(*backup, Scope::AllUsers));
    ASSERT_EQ(ERROR_SUCCESS, DeleteTypeBackupIcon(*backup, Scope::AllUsers));
    std::wstring text;
    ASSERT_TRUE(ReadIconValue(class_, nullptr, &text));
    EXPECT_EQ(L"%SystemRoot%\\orig.dll,-5", text);
    EXPECT_FALSE(ReadTypeBackupIcon(ext_.c_str()));
    const auto restored = ReadTypeIcon(ext_.c_str(), nullptr, true);
    ASSERT_TRUE(restored);
    EXPECT_STREQ(original->IconPath, restored->IconPath);
    EXPECT_EQ(original->Index, restored->Index);
}

TEST_F(FileTypeIconsTest, WritesRefusedByTheRegistryReportItsStatus)
{
    const std::wstring other = NewClass();
    PointExtension(ext_, other);
    SetIconValue(class_, nullptr, L"old.ico,1");
    SetIconValue(class_, BackupIconValue, L"bak.ico,2");
    {
        // The class key cannot be written: registering it again cannot open it with full
        // access either. The extension keeps naming the class it named.
        test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, class_);
        ASSERT_TRUE(readOnly.Applied());
        EXPECT_EQ(ERROR_ACCESS_DENIED, WriteTypeDefaultIcon(Record(L"new.ico", 5), Scope::AllUsers));
        EXPECT_EQ(other, ClassOf(ext_));
    }
    PointExtension(ext_, class_);
    {
        // The class is writable, its DefaultIcon is not: neither opened nor re-created.
        test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon");
        ASSERT_TRUE(readOnly.Applied());
        for (const auto& ops : AllValueOps) {
            SCOPED_TRACE(ops.Label);
            EXPECT_EQ(ERROR_ACCESS_DENIED, ops.Write(Record(L"new.ico", 5), Scope::AllUsers));
        }
        EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteTypeBackupIcon(Record(L"new.ico", 5), Scope::AllUsers));
        // Reading needs no more than query access.
        const auto current = ReadTypeIcon(ext_.c_str(), nullptr, true);
        ASSERT_TRUE(current);
        EXPECT_STREQ(L"old.ico", current->IconPath);
        EXPECT_TRUE(ReadTypeBackupIcon(ext_.c_str()));
    }
    std::wstring text;
    ASSERT_TRUE(ReadIconValue(class_, nullptr, &text));
    EXPECT_EQ(L"old.ico,1", text);
    EXPECT_FALSE(ReadIconValue(class_, HandlerIconValue, &text));
    // With its rights back the same write goes through.
    EXPECT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(Record(L"new.ico", 5), Scope::AllUsers));
    ASSERT_TRUE(ReadIconValue(class_, nullptr, &text));
    EXPECT_EQ(L"new.ico,5", text);
}

// ---------------------------------------------------------------------------------------
// RegisterFileType

TEST_F(FileTypeIconsTest, RegisterFileTypeHandsOutTheClassKeyAndPointsTheExtension)
{
    const std::wstring other = NewClass();
    PointExtension(ext_, other);
    RegKey classKey;
    ASSERT_EQ(ERROR_SUCCESS, RegisterFileType(Record(L"x.ico", 0), classKey));
    ASSERT_TRUE(classKey);
    EXPECT_EQ(ERROR_SUCCESS, WriteTextValue(classKey.get(), L"Probe", L"through the handed-out key"));
    classKey.reset();
    std::wstring probe;
    ASSERT_TRUE(test::ReadValue(HKEY_CLASSES_ROOT, class_, L"Probe", &probe));
    EXPECT_EQ(L"through the handed-out key", probe);
    // Which class an extension names is never changed: its files would lose that class.
    EXPECT_EQ(other, ClassOf(ext_));
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, ext_);
    ASSERT_EQ(ERROR_SUCCESS, RegisterFileType(Record(L"x.ico", 0), classKey));
    EXPECT_EQ(class_, ClassOf(ext_)) << "an extension that names no class is pointed at it";

    // Registering again opens the same class and keeps what it holds.
    ASSERT_EQ(ERROR_SUCCESS, RegisterFileType(Record(L"x.ico", 0), classKey));
    ASSERT_TRUE(test::ReadValue(HKEY_CLASSES_ROOT, class_, L"Probe", &probe));
}

TEST_F(FileTypeIconsTest, RegisterFileTypeEdgeCases)
{
    // No class: nothing is created, and a key the caller held is let go.
    RegKey classKey;
    ASSERT_EQ(ERROR_SUCCESS, classKey.Create(HKEY_CLASSES_ROOT, class_.c_str()));
    IconLocation noClass(L"x.ico", ext_.c_str(), 0);
    EXPECT_NE(ERROR_SUCCESS, RegisterFileType(noClass, classKey));
    EXPECT_FALSE(classKey);
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, ext_));
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_);

    // A class name over the registry's 255 characters cannot be created; the extension is
    // still pointed at it, as the operation does whatever the class key's outcome.
    const std::wstring prefix = test::UniqueName(L"");
    const std::wstring tooLong = prefix + std::wstring(258 - prefix.size(), L'z');
    IconLocation bad(L"x.ico", ext_.c_str(), 0);
    ASSERT_TRUE(bad.SetTypeKey(tooLong.c_str()));
    EXPECT_NE(ERROR_SUCCESS, RegisterFileType(bad, classKey));
    EXPECT_FALSE(classKey);
    EXPECT_EQ(tooLong, ClassOf(ext_));
}

// ---------------------------------------------------------------------------------------
// DeleteTypeBackupIcon

TEST_F(FileTypeIconsTest, DeleteTypeBackupIconTable)
{
    struct Case {
        const char* Label;
        bool DefaultIconKey;
        bool Backup;
    };
    const Case cases[] = {
        {"class without DefaultIcon", false, false},
        {"DefaultIcon without backup", true, false},
        {"DefaultIcon with backup", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_);
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_, L"", L"A class"));
        if (c.DefaultIconKey) {
            SetIconValue(class_, nullptr, L"d.ico,1");
            SetIconValue(class_, HandlerIconValue, L"h.ico,2");
        }
        if (c.Backup)
            SetIconValue(class_, BackupIconValue, L"b.ico,3");

        EXPECT_EQ(ERROR_SUCCESS, DeleteTypeBackupIcon(Record(L"ignored", 0), Scope::AllUsers));
        std::wstring text;
        EXPECT_FALSE(ReadIconValue(class_, BackupIconValue, &text));
        EXPECT_EQ(c.DefaultIconKey, test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon"));
        if (c.DefaultIconKey) {
            ASSERT_TRUE(ReadIconValue(class_, nullptr, &text));
            EXPECT_EQ(L"d.ico,1", text);
            ASSERT_TRUE(ReadIconValue(class_, HandlerIconValue, &text));
            EXPECT_EQ(L"h.ico,2", text);
        }
    }
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_);
    EXPECT_EQ(ERROR_SUCCESS, DeleteTypeBackupIcon(Record(L"ignored", 0), Scope::AllUsers));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_));
    EXPECT_NE(ERROR_SUCCESS, DeleteTypeBackupIcon(IconLocation(), Scope::AllUsers));
}

// ---------------------------------------------------------------------------------------
// The shell as witness

TEST_F(FileTypeIconsTest, TheShellReportsTheWrittenTypeIcon)
{
    test::TempDir dir;
    const std::wstring icon = test::WriteIconFile(dir.Path() + L"\\type.ico", 4);
    const std::wstring file = dir.MakeFile(L"document" + ext_);

    ASSERT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(Record(icon.c_str(), 2), Scope::AllUsers));
    EXPECT_EQ(test::Lower(icon + L",2"), test::Lower(test::ShellIconLocation(file)));

    // A change of the type's icon is what the shell reports next.
    ASSERT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(Record(icon.c_str(), 3), Scope::AllUsers));
    EXPECT_EQ(test::Lower(icon + L",3"), test::Lower(test::ShellIconLocation(file)));
}

// ---------------------------------------------------------------------------------------
// Keys are closed on every path

// Wine reports no process handle count, but it hands out the lowest free handle: the value
// a freshly opened key gets moves when an operation leaves a key open.
HKEY NextHandle()
{
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key);
    RegCloseKey(key);
    return key;
}

TEST_F(FileTypeIconsTest, NoKeyHandleIsLeft)
{
    // Every road: a CurVer cycle, a chain that ends in an icon, a DefaultIcon without the
    // value asked for, a class created by a write and then opened, a refused write.
    const std::wstring loop = NewClass();
    PointExtension(ext_, class_);
    SetCurVer(class_, loop);
    SetCurVer(loop, class_);
    const std::wstring chainExt = NewClass(test::UniqueName(L"."));
    const std::wstring chainStart = NewClass();
    const std::wstring chainEnd = NewClass();
    PointExtension(chainExt, chainStart);
    SetCurVer(chainStart, chainEnd);
    SetIconValue(chainEnd, nullptr, L"C:\\e.ico,1");
    const std::wstring writeExt = NewClass(test::UniqueName(L"."));
    IconLocation written(L"C:\\w.ico", writeExt.c_str(), 1);
    written.SetTypeKey(NewClass().c_str());
    IconLocation refused(std::wstring(250, L'p').c_str(), writeExt.c_str(), -1999999999);
    refused.SetTypeKey(written.TypeKey);
    auto runAll = [&] {
        EXPECT_FALSE(ReadTypeIcon(ext_.c_str(), nullptr, true));
        EXPECT_FALSE(ReadTypeHandlerIcon(ext_.c_str()));
        EXPECT_TRUE(ReadTypeIcon(chainExt.c_str(), nullptr, true));
        EXPECT_FALSE(ReadTypeBackupIcon(chainExt.c_str()));
        EXPECT_EQ(ERROR_SUCCESS, WriteTypeBackupIcon(written, Scope::AllUsers));
        EXPECT_EQ(ERROR_SUCCESS, WriteTypeDefaultIcon(written, Scope::AllUsers));
        EXPECT_EQ(ERROR_SUCCESS, DeleteTypeBackupIcon(written, Scope::AllUsers));
        EXPECT_NE(ERROR_SUCCESS, WriteTypeHandlerIcon(refused, Scope::AllUsers));
        RegKey classKey;
        EXPECT_EQ(ERROR_SUCCESS, RegisterFileType(written, classKey));
    };
    runAll();
    const HKEY before = NextHandle();
    {
        // The probe sees a key that is left open.
        RegKey leaked;
        ASSERT_EQ(ERROR_SUCCESS, leaked.Open(HKEY_CLASSES_ROOT, ext_.c_str(), KEY_READ));
        ASSERT_NE(before, NextHandle());
    }
    ASSERT_EQ(before, NextHandle());
    for (int i = 0; i < 20; ++i) {
        runAll();
        ASSERT_EQ(before, NextHandle()) << "after round " << i;
    }
}

} // namespace
