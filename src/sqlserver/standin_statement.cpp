#include "sqlserver/standin_statement.h"

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

#include "base/text.h"
#include "sqlserver/sql_server_connection.h"

namespace veltora {
namespace {

enum class TokenKind { kWord, kIdentifier, kString, kNumber, kSymbol };

struct Token {
  TokenKind kind;
  std::string value;     // identifiers and strings unquoted
  std::string_view raw;  // as written
};

bool IsWordStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '@' || c == '#' ||
         c >= 0x80;
}

bool IsWordPart(unsigned char c) { return IsWordStart(c) || (c >= '0' && c <= '9') || c == '$'; }

// Reads a quoted run that starts after the opening quote at `pos`; a doubled
// closing quote stands for one. Answers the value and moves `pos` past the end.
std::string ReadQuoted(std::string_view sql, std::size_t& pos, char close) {
  std::string value;
  std::size_t start = pos;
  while (pos < sql.size()) {
    char c = sql[pos++];
    if (c != close) {
      value.push_back(c);
    } else if (pos < sql.size() && sql[pos] == close) {
      value.push_back(close);
      ++pos;
    } else {
      return value;
    }
  }
  throw SqlError("Unclosed quotation mark after the character string " +
                 QuotedInMessage(sql.substr(start)) + ".");
}

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  std::size_t pos = 0;
  while (pos < sql.size()) {
    unsigned char c = static_cast<unsigned char>(sql[pos]);
    std::size_t start = pos;
    if (c <= 0x20) {
      ++pos;
    } else if (sql.substr(pos, 2) == "--") {
      pos = sql.find('\n', pos);
      if (pos == std::string_view::npos) pos = sql.size();
    } else if (sql.substr(pos, 2) == "/*") {
      std::size_t end = sql.find("*/", pos + 2);
      if (end == std::string_view::npos) throw SqlError("Missing end comment mark '*/'.");
      pos = end + 2;
    } else if (c == '[' || c == '"') {
      ++pos;
      std::string value = ReadQuoted(sql, pos, c == '[' ? ']' : '"');
      tokens.push_back({TokenKind::kIdentifier, std::move(value), sql.substr(start, pos - start)});
    } else if (c == '\'' || ((c == 'N' || c == 'n') && sql.substr(pos + 1, 1) == "'")) {
      pos = sql.find('\'', pos) + 1;
      std::string value = ReadQuoted(sql, pos, '\'');
      tokens.push_back({TokenKind::kString, std::move(value), sql.substr(start, pos - start)});
    } else if (c >= '0' && c <= '9') {
      while (pos < sql.size() && ((sql[pos] >= '0' && sql[pos] <= '9') || sql[pos] == '.')) ++pos;
      std::string_view raw = sql.substr(start, pos - start);
      tokens.push_back({TokenKind::kNumber, std::string(raw), raw});
    } else if (IsWordStart(c)) {
      while (pos < sql.size() && IsWordPart(static_cast<unsigned char>(sql[pos]))) ++pos;
      std::string_view raw = sql.substr(start, pos - start);
      tokens.push_back({TokenKind::kWord, std::string(raw), raw});
    } else {
      ++pos;
      std::string_view raw = sql.substr(start, 1);
      tokens.push_back({TokenKind::kSymbol, std::string(raw), raw});
    }
  }
  return tokens;
}

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

  const Token* Peek() const { return pos_ < tokens_.size() ? &tokens_[pos_] : nullptr; }
  bool AtEnd() const { return pos_ >= tokens_.size(); }

  bool IsWord(std::string_view word) const {
    const Token* t = Peek();
    return t != nullptr && t->kind == TokenKind::kWord && EqualsIgnoreAsciiCase(t->value, word);
  }
  bool AcceptWord(std::string_view word) {
    if (!IsWord(word)) return false;
    ++pos_;
    return true;
  }
  void ExpectWord(std::string_view word) {
    if (!AcceptWord(word)) Fail();
  }
  bool AcceptSymbol(char symbol) {
    const Token* t = Peek();
    if (t == nullptr || t->kind != TokenKind::kSymbol || t->value[0] != symbol) return false;
    ++pos_;
    return true;
  }
  void ExpectSymbol(char symbol) {
    if (!AcceptSymbol(symbol)) Fail();
  }
  // The next token when it is one of the kinds.
  const Token& Expect(std::initializer_list<TokenKind> kinds) {
    const Token* t = Peek();
    if (t == nullptr || std::find(kinds.begin(), kinds.end(), t->kind) == kinds.end()) Fail();
    ++pos_;
    return *t;
  }
  // A name that a word or a delimited identifier spells.
  bool IsName(std::string_view name) const {
    const Token* t = Peek();
    return t != nullptr && (t->kind == TokenKind::kWord || t->kind == TokenKind::kIdentifier) &&
           EqualsIgnoreAsciiCase(t->value, name);
  }
  bool IsAnyName() const {
    const Token* t = Peek();
    return t != nullptr && (t->kind == TokenKind::kWord || t->kind == TokenKind::kIdentifier);
  }
  const Token& ExpectName() { return Expect({TokenKind::kWord, TokenKind::kIdentifier}); }
  // Statement end: an optional ";" and nothing after it.
  void ExpectEnd() {
    AcceptSymbol(';');
    if (!AtEnd()) Fail();
  }
  // The token a syntax error names: the next one, or the last at the end.
  std::string_view Near() const {
    if (!AtEnd()) return tokens_[pos_].raw;
    if (!tokens_.empty()) return tokens_.back().raw;
    return {};
  }
  [[noreturn]] void Fail() const {
    throw SqlError("Incorrect syntax near " + QuotedInMessage(Near()) + ".");
  }

 private:
  const std::vector<Token>& tokens_;
  std::size_t pos_ = 0;
};

// After EXEC: only sp_dboption is known.
StandinDbOptionCall ParseDbOptionCall(Parser& parser) {
  if (!parser.IsName("sp_dboption")) {
    const Token* t = parser.Peek();
    if (t == nullptr) parser.Fail();
    throw SqlError("Could not find stored procedure " + QuotedInMessage(t->value) + ".");
  }
  parser.ExpectName();
  auto argument = [&] {
    return parser.Expect({TokenKind::kString, TokenKind::kIdentifier, TokenKind::kWord}).value;
  };
  StandinDbOptionCall call;
  call.database = argument();
  parser.ExpectSymbol(',');
  call.option = argument();
  parser.ExpectSymbol(',');
  call.value = argument();
  parser.ExpectEnd();
  return call;
}

// After BACKUP.
StandinBackupDatabase ParseBackup(Parser& parser) {
  StandinBackupDatabase backup;
  parser.ExpectWord("database");
  backup.database = parser.ExpectName().value;
  parser.ExpectWord("to");
  parser.ExpectWord("disk");
  parser.ExpectSymbol('=');
  backup.disk = parser.Expect({TokenKind::kString}).value;
  if (parser.AcceptWord("with")) {
    do {
      if (parser.AcceptWord("init") || parser.AcceptWord("format"))
        backup.init = true;
      else if (parser.AcceptWord("noinit"))
        backup.init = false;
      else if (parser.AcceptWord("checksum"))
        backup.checksum = true;
      else if (parser.AcceptWord("no_checksum"))
        backup.checksum = false;
      else
        parser.Fail();
    } while (parser.AcceptSymbol(','));
  }
  parser.ExpectEnd();
  return backup;
}

// After RESTORE.
StandinStatement ParseRestore(Parser& parser) {
  auto fromDisk = [&] {
    parser.ExpectWord("from");
    parser.ExpectWord("disk");
    parser.ExpectSymbol('=');
    return parser.Expect({TokenKind::kString}).value;
  };
  auto checksumOption = [&](std::optional<bool>& checksum) {
    if (parser.AcceptWord("checksum"))
      checksum = true;
    else if (parser.AcceptWord("no_checksum"))
      checksum = false;
    else
      return false;
    return true;
  };
  if (parser.AcceptWord("filelistonly")) {
    StandinRestoreFileList list{fromDisk()};
    parser.ExpectEnd();
    return list;
  }
  if (parser.AcceptWord("verifyonly")) {
    StandinRestoreVerify verify{fromDisk(), std::nullopt};
    if (parser.AcceptWord("with")) {
      do {
        if (!checksumOption(verify.checksum)) parser.Fail();
      } while (parser.AcceptSymbol(','));
    }
    parser.ExpectEnd();
    return verify;
  }
  parser.ExpectWord("database");
  StandinRestoreDatabase restore;
  restore.database = parser.ExpectName().value;
  restore.disk = fromDisk();
  if (parser.AcceptWord("with")) {
    do {
      if (parser.AcceptWord("move")) {
        DatabaseFileMove move;
        move.logicalName = parser.Expect({TokenKind::kString}).value;
        parser.ExpectWord("to");
        move.physicalPath = parser.Expect({TokenKind::kString}).value;
        restore.moves.push_back(std::move(move));
      } else if (parser.AcceptWord("replace")) {
        restore.replace = true;
      } else if (!parser.AcceptWord("recovery") && !checksumOption(restore.checksum)) {
        parser.Fail();
      }
    } while (parser.AcceptSymbol(','));
  }
  parser.ExpectEnd();
  return restore;
}

// After ALTER.
StandinAlterDatabase ParseAlterDatabase(Parser& parser) {
  StandinAlterDatabase alter;
  parser.ExpectWord("database");
  alter.database = parser.ExpectName().value;
  parser.ExpectWord("set");
  auto oneOf = [&](std::initializer_list<std::string_view> words) {
    for (std::string_view word : words)
      if (parser.AcceptWord(word)) return std::string(word);
    parser.Fail();
  };
  alter.option = oneOf({"RECOVERY", "AUTO_SHRINK"});
  alter.value =
      alter.option == "RECOVERY" ? oneOf({"FULL", "BULK_LOGGED", "SIMPLE"}) : oneOf({"ON", "OFF"});
  parser.ExpectEnd();
  return alter;
}

// After SELECT, when the text names SERVERPROPERTY.
StandinServerPropertyQuery ParseServerPropertyQuery(Parser& parser) {
  StandinServerPropertyQuery query;
  const bool cast = parser.AcceptWord("cast");
  if (cast) parser.ExpectSymbol('(');
  parser.ExpectWord("serverproperty");
  parser.ExpectSymbol('(');
  query.property = parser.Expect({TokenKind::kString}).value;
  parser.ExpectSymbol(')');
  if (cast) {
    parser.ExpectWord("as");
    if (!parser.AcceptWord("varchar") && !parser.AcceptWord("nvarchar")) parser.Fail();
    if (parser.AcceptSymbol('(')) {
      parser.Expect({TokenKind::kNumber});
      parser.ExpectSymbol(')');
    }
    parser.ExpectSymbol(')');
  }
  if (parser.AcceptWord("as") || parser.IsAnyName() ||
      (parser.Peek() != nullptr && parser.Peek()->kind == TokenKind::kString))
    query.column =
        parser.Expect({TokenKind::kWord, TokenKind::kIdentifier, TokenKind::kString}).value;
  parser.ExpectEnd();
  return query;
}

// After SELECT, when the text names sysdatabases.
StandinSysdatabasesQuery ParseSysdatabasesQuery(Parser& parser) {
  if (!parser.AcceptSymbol('*')) {
    do {
      if (!parser.IsName("name") && !parser.IsName("filename")) parser.Fail();
      parser.ExpectName();
    } while (parser.AcceptSymbol(','));
  }
  parser.ExpectWord("from");
  // [master.[dbo].]sysdatabases, "master..sysdatabases" included.
  std::vector<std::string> parts;
  while (!parser.IsName("sysdatabases")) {
    if (parser.IsAnyName()) {
      parts.push_back(parser.ExpectName().value);
      parser.ExpectSymbol('.');
    } else if (parser.AcceptSymbol('.')) {
      parts.emplace_back();
    } else {
      parser.Fail();
    }
  }
  parser.ExpectName();  // sysdatabases
  if (parts.size() > 2 || (!parts.empty() && !EqualsIgnoreAsciiCase(parts[0], "master")) ||
      (parts.size() == 2 && !parts[1].empty() && !EqualsIgnoreAsciiCase(parts[1], "dbo")))
    parser.Fail();
  StandinSysdatabasesQuery query;
  if (parser.AcceptWord("where")) {
    if (!parser.IsName("name")) parser.Fail();
    parser.ExpectName();
    parser.ExpectSymbol('=');
    query.name = parser.Expect({TokenKind::kString}).value;
  }
  parser.ExpectEnd();
  return query;
}

}  // namespace

std::string QuotedInMessage(std::string_view text) { return "'" + std::string(text) + "'"; }

StandinStatement ParseStandinStatement(std::string_view sql) {
  const std::vector<Token> tokens = Tokenize(sql);
  Parser parser(tokens);
  if (parser.AtEnd()) return StandinEmptyBatch{};
  if (parser.AcceptWord("exec") || parser.AcceptWord("execute")) return ParseDbOptionCall(parser);
  if (parser.AcceptWord("backup")) return ParseBackup(parser);
  if (parser.AcceptWord("alter")) return ParseAlterDatabase(parser);
  if (parser.AcceptWord("restore")) return ParseRestore(parser);
  if (parser.AcceptWord("select")) {
    auto names = [&](std::string_view name) {
      return std::any_of(tokens.begin(), tokens.end(), [&](const Token& t) {
        return (t.kind == TokenKind::kWord || t.kind == TokenKind::kIdentifier) &&
               EqualsIgnoreAsciiCase(t.value, name);
      });
    };
    if (names("serverproperty")) return ParseServerPropertyQuery(parser);
    if (names("sysdatabases")) return ParseSysdatabasesQuery(parser);
    return StandinPlainSelect{std::string(parser.Near())};
  }
  parser.Fail();
}

}  // namespace veltora
