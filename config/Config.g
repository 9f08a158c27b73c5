// Grammar of configuration files for the ANTLR 2.7.7 C++ generator. CMake runs the generator at
// build time; ConfigLexer, ConfigParser and CfgTokenTypes are never kept in the repository.
//
// A file is a sequence of lines; each line is empty, a // comment, or one entry
//     NAME = value ;
// where value is an integer, a real (always with a full stop and a digit after it), a string in
// double quotes (no escapes) or a flat array [v, v, ...] of those.

header "post_include_hpp" {
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/config_char_buffer.h"
#include "config/config_error.h"
#include "config/config_reader.h"
#include "config/config_value.h"
}

header "post_include_cpp" {
#include <antlr/CharStreamException.hpp>
#include <antlr/TokenStreamException.hpp>
}

options {
    language = "Cpp";
    namespace = "vantrel";
    namespaceStd = "std";
    namespaceAntlr = "antlr";
    genHashLines = false;
}

class ConfigParser extends Parser;
options {
    k = 3;
    exportVocab = Cfg;
    buildAST = false;
    defaultErrorHandler = false;
}

// Fixes the token numbers 4 to 19 in this order.
tokens {
    REAL; INTEGER; COMMENT; NEWLINE; IDENTIFIER; ASSIGN; SEMICOLON; STRING;
    ARRAYOPEN; COMMA; ARRAYCLOSE; LETTER; NUMBER; DIGIT; WS; DOUBLEQUOTE;
}

{
private:
    // Every value (entry or array element) takes about a hundred bytes in memory, however few
    // characters it has in the file: their number is limited, so that memory stays bounded.
    std::size_t values_ = 0;
    void count_value() {
        if (++values_ <= kMaxConfigValues) return;
        throw ConfigError(" line " + std::to_string(LT(1)->getLine()) + " column " +
                          std::to_string(LT(1)->getColumn()) + ": more than " +
                          std::to_string(kMaxConfigValues) + " values");
    }
}

// Appends the entries in file order. Stops without error at the first token that cannot begin
// an entry; every failure leaves as a ConfigError.
config[std::vector<ConfigValue>& entries]
{ std::unique_ptr<ConfigValue> e; }
    : ( COMMENT | NEWLINE | e = entry { count_value(); entries.push_back(std::move(*e)); } )*
    ;
    exception
    catch [ConfigError& ex] {
        throw;
    }
    catch [antlr::CharStreamException& ex] {
        throw ConfigError("CharStreamException " + ex.getMessage());
    }
    catch [antlr::TokenStreamException& ex] {
        throw ConfigError("TokenStreamException " + ex.getMessage());
    }
    catch [antlr::RecognitionException& ex] {
        throw ConfigError(" line " + std::to_string(ex.getLine()) + " column " +
                          std::to_string(ex.getColumn()));
    }
    catch [...] {
        throw ConfigError("Unknown exception caught!");
    }

// One alternative per value type, chosen on three tokens, so that a line that is not
// NAME = value is an error at its name.
entry returns [std::unique_ptr<ConfigValue> v]
{ std::int32_t i = 0; double r = 0.0; ConfigValue::Elements a; }
    : n1:IDENTIFIER ASSIGN i = integer SEMICOLON
      { v = std::make_unique<ConfigValue>(n1->getText(), i); }
    | n2:IDENTIFIER ASSIGN r = real SEMICOLON
      { v = std::make_unique<ConfigValue>(n2->getText(), r); }
    | n3:IDENTIFIER ASSIGN s:STRING SEMICOLON
      { v = std::make_unique<ConfigValue>(n3->getText(), s->getText()); }
    | n4:IDENTIFIER ASSIGN a = array SEMICOLON
      { v = std::make_unique<ConfigValue>(n4->getText(), std::move(a)); }
    ;

// At least one element, no comma after the last one, no nesting.
array returns [ConfigValue::Elements elements]
    : ARRAYOPEN
      ( options { greedy = true; } : element[elements] COMMA )*
      element[elements]
      ARRAYCLOSE
    ;

element[ConfigValue::Elements& elements]
{ std::int32_t i = 0; double r = 0.0; }
    : i = integer { count_value(); elements.emplace_back(std::string(), i); }
    | r = real { count_value(); elements.emplace_back(std::string(), r); }
    | s:STRING { count_value(); elements.emplace_back(std::string(), s->getText()); }
    ;

integer returns [std::int32_t v = 0]
    : t:INTEGER { v = parse_integer(t->getText()); }
    ;

real returns [double v = 0.0]
    : t:REAL { v = parse_real(t->getText()); }
    ;


// Filter mode: a character that begins no token goes to WS, which skips spaces; any other such
// character is reported on the standard error stream and dropped. A token rule that fails part
// way drops its first character the same way and scanning restarts after it.
class ConfigLexer extends Lexer;
options {
    k = 2;
    exportVocab = Cfg;
    caseSensitive = false;
    charVocabulary = '\3'..'\377';
    filter = WS;
    testLiterals = false;
}

{
public:
    // A token that fails part way is scanned again from its first character, so the position
    // goes back with the input; otherwise the rescanned characters would count twice in the
    // column of every later token on the line.
    unsigned int mark() override {
        positions_.emplace_back(getLine(), getColumn());
        return antlr::CharScanner::mark();
    }
    void rewind(unsigned int marker) override {
        antlr::CharScanner::rewind(marker);
        if (!positions_.empty()) {
            setLine(positions_.back().first);
            setColumn(positions_.back().second);
            positions_.pop_back();
        }
    }
    void commit() override {
        antlr::CharScanner::commit();
        if (!positions_.empty()) positions_.pop_back();
        if (auto* buffer = dynamic_cast<ConfigCharBuffer*>(&getInputBuffer())) buffer->release();
    }

private:
    std::vector<std::pair<int, int>> positions_;
}

protected WS
    : (' ')+
    ;

NEWLINE
    : '\n' { newline(); }
    ;

// The line feed belongs to the comment: a comment at the end of input without one is no comment.
COMMENT
    : "//" (~'\n')* '\n' { newline(); }
    ;

protected DOUBLEQUOTE
    : '"'
    ;

// Line feeds inside a string are kept and not counted as lines.
STRING
    options { paraphrase = "string"; }
    : DOUBLEQUOTE! (~'"')* DOUBLEQUOTE!
    ;

protected LETTER
    : 'a'..'z'
    ;

protected DIGIT
    : '0'..'9'
    ;

IDENTIFIER
    options { paraphrase = "identifier"; }
    : LETTER (LETTER | DIGIT | '_' | '-')*
    ;

// A real always has a full stop followed by digits: .5 and 1.0e-3 are reals, 5. is not a number
// and 1e5 is the integer 1 followed by the identifier e5.
NUMBER
    options { paraphrase = "NUMBER (INTEGER OR REAL)"; }
    : ( ('+' | '-')? (DIGIT)* '.' ) =>
      ('+' | '-')? (DIGIT)* '.' (DIGIT)+ ('e' ('+' | '-')? (DIGIT)+)? { $setType(REAL); }
    | ('+' | '-')? (DIGIT)+ { $setType(INTEGER); }
    ;

ASSIGN
    options { paraphrase = "="; }
    : '='
    ;

SEMICOLON
    : ';'
    ;

COMMA
    : ','
    ;

ARRAYOPEN
    : '['
    ;

ARRAYCLOSE
    : ']'
    ;
