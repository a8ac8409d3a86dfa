// Host values <-> component values, with a tracking memory manager standing in for the host's.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "cf/component.h"
#include "cf/convert.h"
#include "host.h"

namespace qd {
namespace {

using abi::tVariant;

tVariant Zeroed() {
  tVariant v;
  std::memset(&v, 0, sizeof v);
  return v;
}

class ValueConversion : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(Memory.Faults().empty());
  }
  host::TMemoryManager Memory;
};

TEST_F(ValueConversion, IntegersChooseTheirWidthAtTheInt32Edge) {
  struct Case {
    int64_t value;
    uint16_t vt;
  } cases[] = {{0, 3}, {2147483646, 3}, {-2147483646, 3}, {2147483647, 17}, {-2147483647, 17}, {-2147483648LL, 17},
               {int64_t(1) << 40, 17}};
  for (const Case& c : cases) {
    tVariant v = Zeroed();
    ValueToHost(Memory.Object(), TValue::Int(c.value), v);
    EXPECT_EQ(v.vt, c.vt) << c.value;
    if (c.vt == 3) {
      EXPECT_EQ(v.intVal, c.value);
    }
    if (c.vt == 17) {
      EXPECT_EQ(v.IIVal, c.value);
    }
    EXPECT_EQ(v.cbElements, 0u);
    EXPECT_EQ(v.reserved, 0u);
  }
}

TEST_F(ValueConversion, BooleansDoublesCurrencyAndDates) {
  tVariant v = Zeroed();
  ValueToHost(Memory.Object(), TValue::Bool(true), v);
  EXPECT_EQ(v.vt, abi::VTYPE_BOOL);
  EXPECT_EQ(v.bVal, 1);
  ValueToHost(Memory.Object(), TValue::Dbl(2.5), v);
  EXPECT_EQ(v.vt, abi::VTYPE_R8);
  EXPECT_EQ(v.dbVal, 2.5);
  ValueToHost(Memory.Object(), TValue::Curr(125000), v);
  EXPECT_EQ(v.vt, abi::VTYPE_R8);
  EXPECT_EQ(v.dbVal, 12.5);
  ValueToHost(Memory.Object(), TValue::Date(45356.25), v);
  EXPECT_EQ(v.vt, abi::VTYPE_DATE);
  EXPECT_EQ(v.date, 45356.25);
  ValueToHost(Memory.Object(), TValue(), v);
  EXPECT_EQ(v.vt, abi::VTYPE_EMPTY);
  ValueToHost(Memory.Object(), TValue::Null(), v);
  EXPECT_EQ(v.vt, abi::VTYPE_EMPTY);

  tVariant b = Zeroed();
  b.vt = abi::VTYPE_BOOL;
  b.bVal = 2;
  TValue t = HostToValue(b);
  EXPECT_EQ(t.Kind(), TValueKind::Boolean);
  EXPECT_TRUE(t.AsBool());
}

TEST_F(ValueConversion, HostTextIsReadToItsFirstZeroOrItsLengthWhicheverComesFirst) {
  const struct {
    std::u16string Units;  // the host's buffer, exactly this long: no terminating zero after it
    uint32_t Length;
    const char* Text;
  } cases[] = {
      {std::u16string(u"аб\0в", 4), 4, "аб"},
      {u"абв", 3, "абв"},
      {u"абв", 2, "аб"},
      {u"абв", 0, ""},
  };
  for (const auto& c : cases) {
    std::unique_ptr<char16_t[]> units(new char16_t[c.Units.size()]);
    std::copy(c.Units.begin(), c.Units.end(), units.get());
    tVariant v = Zeroed();
    v.vt = abi::VTYPE_PWSTR;
    v.wstr.pwstrVal = units.get();
    v.wstr.wstrLen = c.Length;
    EXPECT_EQ(HostToValue(v).AsString(), c.Text) << c.Length;
  }
  tVariant v = Zeroed();
  v.vt = abi::VTYPE_PWSTR;
  v.wstr.wstrLen = 5;
  EXPECT_EQ(HostToValue(v).AsString(), "") << "a null text is empty whatever its length says";
}

TEST_F(ValueConversion, NullBlockIsEmptyWhateverItsLengthSays) {
  tVariant v = Zeroed();
  v.vt = abi::VTYPE_BLOB;
  v.str.strLen = 1u << 30;
  TValue t = HostToValue(v);
  EXPECT_EQ(t.AsBytes(), (std::vector<uint8_t>{0}));
  tVariant out = Zeroed();
  ValueToHost(Memory.Object(), t, out);
  EXPECT_EQ(out.vt, abi::VTYPE_BLOB);
  EXPECT_EQ(out.str.strLen, 0u);
  ValueToHost(Memory.Object(), TValue(), out);
}

TEST_F(ValueConversion, TextGoesBackZeroTerminatedAndTheOldTextIsReleasedFirst) {
  tVariant v = Zeroed();
  ValueToHost(Memory.Object(), TValue::Str("Весы"), v);
  ASSERT_EQ(v.vt, abi::VTYPE_PWSTR);
  EXPECT_EQ(v.wstr.wstrLen, 4u);
  EXPECT_EQ(std::u16string(v.wstr.pwstrVal), u"Весы");
  EXPECT_EQ(Memory.LiveBlocks(), 1u);
  ValueToHost(Memory.Object(), TValue::Str("😀"), v);  // two UTF-16 units
  EXPECT_EQ(v.wstr.wstrLen, 2u);
  EXPECT_EQ(Memory.LiveBlocks(), 1u);
  EXPECT_EQ(Memory.Releases(), 1u);
  ValueToHost(Memory.Object(), TValue::Int(1), v);
  EXPECT_EQ(Memory.LiveBlocks(), 0u);
}

TEST_F(ValueConversion, WithoutMemoryManagerTextsUseTheLibraryHeap) {
  tVariant v = Zeroed();
  ValueToHost(nullptr, TValue::Str("x"), v);
  EXPECT_EQ(std::u16string(v.wstr.pwstrVal), u"x");
  ValueToHost(nullptr, TValue(), v);  // releases it again
  EXPECT_EQ(v.vt, abi::VTYPE_EMPTY);
  EXPECT_THROW(ValueToHost(nullptr, TValue::Bytes({1, 2, 0}), v), std::runtime_error);
}

TEST_F(ValueConversion, WithoutMemoryManagerTheHostsOwnTextAndBlockAreNeverFreed) {
  // The host's own memory, which the library's heap must not be asked to free.
  char16_t hostText[] = u"host";
  char hostBlock[] = "ab";
  tVariant v = Zeroed();
  v.vt = abi::VTYPE_PWSTR;
  v.wstr.pwstrVal = hostText;
  v.wstr.wstrLen = 4;
  ValueToHost(nullptr, TValue::Str("замена"), v);
  EXPECT_EQ(std::u16string(v.wstr.pwstrVal), u"замена");
  EXPECT_EQ(std::u16string(hostText), u"host");
  ValueToHost(nullptr, TValue(), v);  // the library's own text is released
  v.vt = abi::VTYPE_BLOB;
  v.str.pstrVal = hostBlock;
  v.str.strLen = 2;
  ValueToHost(nullptr, TValue::Int(1), v);
  EXPECT_EQ(v.vt, abi::VTYPE_I4);
  EXPECT_STREQ(hostBlock, "ab");
}

TEST_F(ValueConversion, BlockOfThreeBytesBecomesFourElementsAndComesBackAsThree) {
  char bytes[] = {'\x01', '\x00', '\xFF'};
  tVariant v = Zeroed();
  v.vt = abi::VTYPE_BLOB;
  v.str.pstrVal = bytes;
  v.str.strLen = 3;
  TValue t = HostToValue(v);
  ASSERT_EQ(t.Kind(), TValueKind::ByteArray);
  EXPECT_EQ(t.AsBytes(), (std::vector<uint8_t>{1, 0, 255, 0}));
  tVariant out = Zeroed();
  ValueToHost(Memory.Object(), t, out);
  ASSERT_EQ(out.vt, abi::VTYPE_BLOB);
  ASSERT_EQ(out.str.strLen, 3u);
  EXPECT_EQ(std::memcmp(out.str.pstrVal, bytes, 3), 0);
  ValueToHost(Memory.Object(), TValue(), out);
  EXPECT_EQ(Memory.LiveBlocks(), 0u);
}

TEST_F(ValueConversion, RefusedKindsCarryTheirMessages) {
  tVariant v = Zeroed();
  v.vt = abi::VTYPE_DATE;
  v.date = 1;
  try {
    HostToValue(v);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Неподдерживаемый тип данных");
  }
  for (uint16_t code : {uint16_t(abi::VTYPE_I8), uint16_t(2), uint16_t(8), uint16_t(24), uint16_t(0xFFFF)}) {
    v.vt = code;
    EXPECT_THROW(HostToValue(v), std::runtime_error) << code;
  }
  tVariant out = Zeroed();
  try {
    ValueToHost(Memory.Object(), TValue::Arr({TValue::Int(1)}), out);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Неподдерживаемый тип массива.");
  }
}

TEST_F(ValueConversion, CalendarValues) {
  tVariant v = Zeroed();
  v.vt = abi::VTYPE_TM;
  v.tmVal.tm_year = 124;
  v.tmVal.tm_mon = 2;
  v.tmVal.tm_mday = 5;
  v.tmVal.tm_hour = 12;
  v.tmVal.tm_wday = 99;  // ignored
  TValue t = HostToValue(v);
  ASSERT_EQ(t.Kind(), TValueKind::DateTime);
  EXPECT_DOUBLE_EQ(t.AsDouble(), 45356.5);  // 5 March 2024, noon
  EXPECT_EQ(t.ToText(), "05.03.2024 12:00:00");

  v.tmVal.tm_mon = 1;
  v.tmVal.tm_mday = 31;
  try {
    HostToValue(v);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "'2024-02-31 12:00:00' is not a valid date and time");
  }

  tVariant nine = Zeroed();
  nine.vt = abi::VTYPE_ERROR;
  nine.intVal = -1;
  EXPECT_EQ(HostToValue(nine).Kind(), TValueKind::DateTime);
}

TEST(ValueText, RenderingUsedInTraces) {
  EXPECT_EQ(TValue().ToText(), "");
  EXPECT_EQ(TValue::Int(-42).ToText(), "-42");
  EXPECT_EQ(TValue::Bool(false).ToText(), "False");
  EXPECT_EQ(TValue::Dbl(12.5).ToText(), "12.5");
  EXPECT_EQ(TValue::Curr(-5000).ToText(), "-0.5");
  EXPECT_EQ(TValue::Date(45356).ToText(), "05.03.2024");
  EXPECT_EQ(TValue::Date(0).ToText(), "30.12.1899");
  EXPECT_EQ(ArgumentList({}), "[]");
  EXPECT_EQ(ArgumentList({TValue::Str("a"), TValue(), TValue::Int(3)}), "[a; ; 3]");
}

}  // namespace
}  // namespace qd

#include "cf/registry.h"

namespace qd {
namespace {

class TAlpha : public TCustomNativeComponent {
 public:
  static std::string ClassName() { return "Alpha"; }
  std::string NCClassName() const override { return ClassName(); }
};

TEST(ClassList, NamesFollowRegistrationAndAnEmptyListGivesEmptyText) {
  ClearNativeComponents();
  EXPECT_EQ(std::u16string(GetClassNamesImpl()), u"");
  RegisterNativeComponent(NativeComponentClass<TAlpha>());
  EXPECT_EQ(std::u16string(GetClassNamesImpl()), u"Alpha");
  RegisterNativeComponent(NativeComponentClass<TCustomNativeComponent>());
  EXPECT_EQ(std::u16string(GetClassNamesImpl()), u"Alpha|AddInNativeExtension");

  void* object = reinterpret_cast<void*>(16);
  EXPECT_EQ(GetClassObjectImpl(u"alpha", &object), 0);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(GetClassObjectImpl(u"AddInNativeExtension", &object), 1);
  ASSERT_NE(object, nullptr);
  auto* header = static_cast<abi::TObjectHeader*>(object);
  EXPECT_EQ(static_cast<TCustomNativeComponent*>(header->Self)->NCClassName(), "AddInNativeExtension");
  EXPECT_EQ(DestroyObjectImpl(&object), 0);
  EXPECT_EQ(object, nullptr);
  ClearNativeComponents();
  EXPECT_EQ(std::u16string(GetClassNamesImpl()), u"");
}

// Hosts call the exports on any thread, also while the library unloads at a process exit:
// the list is read whole while another thread registers and clears it.
TEST(ClassList, ReadWhileAnotherThreadChangesIt) {
  ClearNativeComponents();
  std::atomic<bool> stop{false};
  std::atomic<long> created{0};
  std::thread reader([&] {
    while (!stop) {
      const std::u16string names = GetClassNamesImpl();
      if (!names.empty() && names.rfind(u"Alpha", 0) != 0) ADD_FAILURE() << "a cut list";
      void* object = nullptr;
      if (GetClassObjectImpl(u"Alpha", &object) == 1) {
        ++created;
        DestroyObjectImpl(&object);
      }
    }
  });
  for (int round = 0; round < 300; ++round) {
    for (int i = 0; i < 20; ++i) RegisterNativeComponent(NativeComponentClass<TAlpha>());
    ClearNativeComponents();
  }
  stop = true;
  reader.join();
  ClearNativeComponents();  // one of the loop's may have found the reader holding the list
  EXPECT_EQ(std::u16string(GetClassNamesImpl()), u"");
}

}  // namespace
}  // namespace qd
