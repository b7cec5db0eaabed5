#!/usr/bin/env python3
"""Generates jet/text/collation_data.cpp from the General sort order weight tables.

Usage: tools/gen_collation.py [TABLE_DIR] [OUTPUT]
  TABLE_DIR defaults to ../shared/jet-collation beside the project, OUTPUT to jet/text/collation_data.cpp.

Each table line describes one code unit: a class letter, then comma-separated hexadecimal fields (a
leading zero may be missing). The classes and what they carry:
  S weight            simple              I weight,accent    accented
  U code              unprintable         P code             modifier (adds to the previous accent)
  Z weight,accent,1?  extended            G weight           significant (Jet 3)
  X                   ignored
The Jet 4 tables list 0x0000-0xFFFF without the surrogates and the Jet 3 table lists the 256 code page
1252 bytes. (The Jet 3 mapping file, Unicode to code page 1252, is what jet/text/text_codec already does.)

Consecutive code units of one class whose two-byte weights follow each other (skipping the low bytes
0x00 and 0x01) and which share everything else are written as one run, which keeps the output small.
"""
import os
import sys

CLASS_NAMES = {'X': 'kX', 'S': 'kS', 'I': 'kA', 'Z': 'kE', 'U': 'kU', 'P': 'kM', 'G': 'kG'}


def hex_bytes(field):
    if len(field) % 2:
        field = '0' + field
    return bytes.fromhex(field)


class Code:
    """One code unit's entry: class letter, inline weight bytes, code bytes, extended mark, density."""

    def __init__(self, letter, weight=b'', code=b'', mark=0, dense=False):
        self.letter, self.weight, self.code, self.mark, self.dense = letter, weight, code, mark, dense

    def shared(self):
        return (self.letter, len(self.weight), self.code, self.mark, self.dense)


def parse_line(line):
    letter, fields = line[0], line[1:].split(',')
    if letter == 'X':
        return Code('X')
    if letter in 'SG':
        return Code(letter, weight=hex_bytes(fields[0]))
    if letter == 'I':
        return Code('I', weight=hex_bytes(fields[0]), code=hex_bytes(fields[1]))
    if letter in 'UP':
        return Code(letter, code=hex_bytes(fields[0]))
    if letter == 'Z':
        code = hex_bytes(fields[1]) if fields[1] else b''
        return Code('Z', weight=hex_bytes(fields[0]), code=code, mark=2 if fields[2] == '1' else 3)
    raise ValueError('unknown class in line %r' % line)


def read_lines(path):
    with open(path, encoding='ascii') as f:
        return [line.rstrip('\n') for line in f if line.strip()]


def surrogate_codes():
    """Surrogates are absent from the tables: each one keys as an accented character with accent 0x3F.
    High surrogates take dense weights from 0xB002, low surrogates stepped weights from 0xB4F8."""
    codes = {}
    for unit in range(0xD800, 0xDC00):
        value = unit - 0xD800 + 0xB002
        codes[unit] = Code('I', weight=value.to_bytes(2, 'big'), code=b'\x3f', dense=True)
    value = 0xB4F8
    for unit in range(0xDC00, 0xE000):
        codes[unit] = Code('I', weight=value.to_bytes(2, 'big'), code=b'\x3f')
        value = next_weight(value)
    return codes


def next_weight(value):
    return value + 3 if value & 0xFF == 0xFF else value + 1


def follows(run_last, code):
    """True if `code` continues a run whose last code unit is `run_last`."""
    if run_last.shared() != code.shared():
        return False
    if not code.weight:
        return True
    if len(code.weight) != 2:
        return False
    previous = int.from_bytes(run_last.weight, 'big')
    current = int.from_bytes(code.weight, 'big')
    return current == (previous + 1 if code.dense else next_weight(previous))


def make_runs(codes):
    """codes: list of (unit, Code) in unit order. Returns [(first unit, Code of first unit)]."""
    runs = []
    last = None
    for unit, code in codes:
        if last is not None and last[0] == unit - 1 and follows(last[1], code):
            last = (unit, code)
            continue
        runs.append((unit, code))
        last = (unit, code)
    return runs


def format_run(unit, code):
    parts = ['0x%04X' % unit, CLASS_NAMES[code.letter]]
    tail = []
    if code.weight:
        tail = [str(len(code.weight)), '0x%X' % int.from_bytes(code.weight, 'big')]
    if code.code or code.mark or code.dense:
        tail = tail or ['0', '0']
        tail += [str(len(code.code)), '0x%X' % int.from_bytes(code.code, 'big') if code.code else '0']
    if code.mark or code.dense:
        tail.append(str(code.mark))
    if code.dense:
        tail.append('true')
    return '{' + ','.join(parts + tail) + '}'


def format_array(name, items, per_line_chars=150):
    lines, current = [], ''
    for item in items:
        piece = item + ','
        if current and len(current) + len(piece) > per_line_chars:
            lines.append('    ' + current)
            current = ''
        current += piece
    if current:
        lines.append('    ' + current)
    return 'const CharRun %s[] = {\n%s\n};\nconst size_t %sCount = sizeof(%s) / sizeof(%s[0]);\n' % (
        name, '\n'.join(lines), name, name, name)


def general_runs(table_dir):
    lines = (read_lines(os.path.join(table_dir, 'index_codes_genleg.txt')) +
             read_lines(os.path.join(table_dir, 'index_codes_ext_genleg.txt')))
    units = [u for u in range(0x10000) if not 0xD800 <= u < 0xE000]
    if len(lines) != len(units):
        raise ValueError('Jet 4 tables have %d lines, expected %d' % (len(lines), len(units)))
    codes = dict(zip(units, (parse_line(line) for line in lines)))
    codes.update(surrogate_codes())
    return make_runs(sorted(codes.items()))


def general97_runs(table_dir):
    lines = read_lines(os.path.join(table_dir, 'index_codes_gen_97.txt'))
    if len(lines) != 256:
        raise ValueError('Jet 3 table has %d lines, expected 256' % len(lines))
    return make_runs([(unit, parse_line(line)) for unit, line in enumerate(lines)])


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    table_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, '..', 'shared', 'jet-collation')
    output = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, 'jet', 'text', 'collation_data.cpp')

    general = general_runs(table_dir)
    general97 = general97_runs(table_dir)

    text = [
        '// Generated by tools/gen_collation.py from the General sort order weight tables. Do not edit.',
        '// Each run: {first code unit, class, weight bytes, weight, code bytes, code, extended mark, dense}.',
        '#include "jet/text/collation.h"',
        '',
        'namespace jet::collation_internal {',
        'namespace {',
        'constexpr CharClass kX = CharClass::kIgnored, kS = CharClass::kSimple, kA = CharClass::kAccented,',
        '                    kE = CharClass::kExtended, kU = CharClass::kUnprintable,',
        '                    kM = CharClass::kModifier, kG = CharClass::kSignificant;',
        '}  // namespace',
        '',
        '// clang-format off',
        format_array('kGeneralRuns', [format_run(u, c) for u, c in general]),
        format_array('kGeneral97Runs', [format_run(u, c) for u, c in general97]).rstrip('\n'),
        '// clang-format on',
        '',
        '}  // namespace jet::collation_internal',
        '',
    ]
    with open(output, 'w', encoding='ascii') as f:
        f.write('\n'.join(text))
    print('%s: %d Jet 4 runs, %d Jet 3 runs' % (output, len(general), len(general97)))


if __name__ == '__main__':
    main()
