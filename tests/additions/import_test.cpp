// Reading a turnstile controller's file: encodings, separators, header order,
// and a clear word for each line that cannot be read.

#include <gtest/gtest.h>

#include "additions/turnstile_import.h"
#include "platform/rtl/datetime.h"

using additions::ParseTurnstileFile;
using additions::Verdict;

namespace {

TEST(TurnstileFile, ReadsLatin1AndUtf8WithEitherSeparatorAndAnyColumnOrder) {
  // "Observação" in Latin-1 (0xE7 0xE3), a comma file with quotes and a CRLF.
  std::string latin1 = "QTEFETCATFIM,cdcatraca,DTEFETCAT,CDFILIAL,CDSERVFILI,QTEFETCATINI,Observa\xE7\xE3o\r\n"
                       "1350,\"T 1\",20/06/2024,0001,00010,1200,\"sem, problema\"\r\n";
  auto p = ParseTurnstileFile(latin1);
  ASSERT_TRUE(p.fileError.empty()) << p.fileError;
  ASSERT_EQ(p.lines.size(), 1u);
  const auto& l = p.lines[0];
  EXPECT_EQ(l.verdict, Verdict::Ready) << l.text;
  EXPECT_EQ(l.lineNo, 2);
  EXPECT_EQ(l.turnstile, "T 1");
  EXPECT_EQ(l.branch, "0001");
  EXPECT_EQ(l.service, "00010");
  EXPECT_EQ(l.day, rtl::EncodeDate(2024, 6, 20));
  EXPECT_EQ(l.start, 1200);
  EXPECT_EQ(l.end, 1350);

  // UTF-8 with its byte-order mark, semicolons, blank lines skipped.
  auto q = ParseTurnstileFile("\xEF\xBB\xBF" "CDFILIAL;CDSERVFILI;CDCATRACA;DTEFETCAT;QTEFETCATINI;QTEFETCATFIM;Observação\n\n"
                              "0001;00010;T1;1/7/2024;0;0;ok\n");
  ASSERT_EQ(q.lines.size(), 1u);
  EXPECT_EQ(q.lines[0].verdict, Verdict::Ready) << q.lines[0].text;
  EXPECT_EQ(q.lines[0].lineNo, 3);
  EXPECT_EQ(q.lines[0].day, rtl::EncodeDate(2024, 7, 1));
}

TEST(TurnstileFile, EachUnreadableLineSaysWhereAndWhat) {
  const std::string head = "CDFILIAL;CDSERVFILI;CDCATRACA;DTEFETCAT;QTEFETCATINI;QTEFETCATFIM\n";
  auto p = ParseTurnstileFile(head +
                              "0001;00010;T1;20/06/2024;10;20\n"
                              "0001;00010;T1;20/06/2024;10\n"
                              "0001;00010;T1;2024-06-20;10;20\n"
                              "0001;00010;T2;20/06/2024;10,5;20\n"
                              "0001;00010;T2;20/06/2024;10;-20\n"
                              "00001;00010;T2;20/06/2024;10;20\n"
                              "0001;00010;;20/06/2024;10;20\n"
                              "0001;00010;\"T2;20/06/2024;10;20\n"
                              "0001;00010;T1;20/06/2024;11;21\n");
  std::vector<std::string> texts;
  for (const auto& l : p.lines) texts.push_back(l.text);
  const std::vector<std::string> want{
      "Leitura nova.",
      "Linha 3: 5 campos, o cabeçalho tem 6.",
      "Linha 4: data \"2024-06-20\" inválida (use dd/mm/aaaa).",
      "Linha 5: contador inicial \"10,5\" não é um número inteiro maior ou igual a zero.",
      "Linha 6: contador final \"-20\" não é um número inteiro maior ou igual a zero.",
      "Linha 7: CDFILIAL \"00001\" com mais de 4 caracteres.",
      "Linha 8: CDCATRACA vazio.",
      "Linha 9: aspas não fechadas.",
      "Linha 10: leitura repetida (a mesma catraca, serviço e dia estão na linha 2).",
  };
  EXPECT_EQ(texts, want);
  EXPECT_EQ(p.count(Verdict::Malformed), 8);
  EXPECT_EQ(p.toSend(), 1);
}

TEST(TurnstileFile, AFileWithoutItsColumnsIsRefusedWhole) {
  EXPECT_EQ(ParseTurnstileFile("").fileError, "Arquivo vazio: falta a linha de cabeçalho com os nomes das colunas.");
  auto p = ParseTurnstileFile("CDFILIAL;CDSERVFILI;CDCATRACA;DTEFETCAT;QTEFETCATINI\n0001;00010;T1;20/06/2024;10\n");
  EXPECT_EQ(p.fileError.rfind("Coluna QTEFETCATFIM ausente no cabeçalho (linha 1).", 0), 0u) << p.fileError;
  EXPECT_TRUE(p.lines.empty());
}

}  // namespace
