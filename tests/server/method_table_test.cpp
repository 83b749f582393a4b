// The method table: a call short of the arguments its method requires is
// refused before the method runs, in the shape the screen reads for that
// method (three of them are read without CheckResultServ).

#include "server_fixture.h"

using rtl::Variant;

namespace {

// The refusal's text, read as the screens read each shape; empty when the
// answer is not a refusal of that shape.
std::string RefusalText(const std::string& method, const Variant& r) {
  if (method == "Vd_Retirada") return r.isString() ? r.toString() : std::string();
  if (method == "UpdEfetClie") return r.isArray() && r.size() == 1 && r[0].isString() ? r[0].toString() : std::string();
  if (method == "GetRetirada")
    return r.isArray() && r.size() == 1 && contracts::IsResultArray(r[0]) ? contracts::ResultMessage(r[0]) : std::string();
  return contracts::ResultMessage(r);
}

}  // namespace

TEST_P(ServerTest, ShortCallsAreRefusedInTheShapeTheScreenReadsForTheirMethod) {
  const std::vector<std::string> methods = module_->Methods();
  ASSERT_EQ(methods.size(), 22u);
  for (const std::string& m : methods) {
    if (m == "GetParamGeral") continue;  // takes none
    const std::string text = RefusalText(m, Call(m, {}));
    EXPECT_EQ(text.rfind("Chamada de " + m + " com 0 argumentos; esperados ", 0), 0u) << m << ": " << text;
  }
  // One short of the required ones: the optional tail (PostCard's operator and
  // group) is not required.
  EXPECT_EQ(FailText(Call("PostCard", {"0001", "00010", Day(D)})), "Chamada de PostCard com 3 argumentos; esperados 4.");
  EXPECT_EQ(RefusalText("UpdEfetClie", Call("UpdEfetClie", {Variant::Null(), "0001", "00010"})),
            "Chamada de UpdEfetClie com 3 argumentos; esperados 4.");
}

TEST_P(ServerTest, OnlyUpdEfetClieSendsItsDeltasBack) {
  for (const std::string& m : module_->Methods())
    EXPECT_EQ(module_->ByReference(m), m == "UpdEfetClie" ? std::vector<size_t>({0, 6}) : std::vector<size_t>()) << m;
  EXPECT_TRUE(module_->ByReference("NoSuchMethod").empty());
}
