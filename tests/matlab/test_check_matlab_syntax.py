#!/usr/bin/env python3
"""Tests of check_matlab_syntax.py: known-bad lines must be reported with
the right kind of finding, tricky good lines must not be reported at all.

Each case is (source, the kinds of finding expected, as a list; [] for good
code). The source, of one or more lines, is checked as one file of a
toolbox that defines otk_template; the single letters a b c d e s x stand
for names of the surrounding code (the toolbox defines them too), so that a
line need not assign every name it reads. Prints one line per failing case and ends with
"N passed, M failed"; exits 1 when a case fails.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_matlab_syntax as checker  # noqa: E402

TOOLBOX = {'otk_template', 'a', 'b', 'c', 'd', 'e', 's', 'x'}

BAD = [
    # Octave's not.
    ("if ! isempty(x)\n  y = 1;\nend", ['operator']),
    ("y = x != 3;", ['operator']),
    ("y = !x;", ['operator']),
    # Comments.
    ("x = 1;  # a comment", ['hash-comment']),
    ("# a comment", ['hash-comment']),
    ("#{\nanything\n#}\nx = 1;", ['hash-comment', 'hash-comment']),
    # Increment and assignment operators.
    ("x++;", ['operator']),
    ("x--;", ['operator']),
    ("x += 1;", ['operator']),
    ("x -= 1;", ['operator']),
    ("x *= 2;", ['operator']),
    ("x /= 2;", ['operator']),
    ("x ^= 2;", ['operator']),
    ("y = 2 ** 3;", ['operator']),
    # End-keyword variants and Octave's blocks.
    ("if x\n  y = 1;\nendif", ['keyword']),
    ("for k = 1:3\n  y = k;\nendfor", ['keyword']),
    ("while x\n  x = 0;\nendwhile", ['keyword']),
    ("switch x\n  case 1\n    y = 2;\nendswitch", ['keyword']),
    ("try\n  y = 1;\ncatch\n  y = 2;\nend_try_catch", ['keyword']),
    ("parfor k = 1:3\n  y = k;\nendparfor", ['keyword']),
    ("function y = f(x)\n  y = x;\nendfunction", ['keyword']),
    ("unwind_protect\n  y = 1;\nunwind_protect_cleanup\n  y = 2;\nend_unwind_protect",
     ['keyword', 'keyword', 'keyword']),
    ("x = 0;\ndo\n  x = x + 1;\nuntil x > 3", ['keyword', 'keyword']),
    # Double-quoted strings, with and without escapes.
    ('s = "a\\n";', ['double-quote']),
    ('s = "plain";', ['double-quote']),
    # A default value in a signature.
    ("function y = f(x = 1)\n  y = x;\nend", ['default-value']),
    # Indexing a call's result or a literal.
    ("y = magic(4)(2, 2);", ['chained-index']),
    ("y = [1 2 3](2);", ['chained-index']),
    # Octave's chained assignment and Name=Value arguments (R2021a).
    ("a = b = 1;", ['chained-assignment']),
    ("plot(1:3, LineWidth=2);", ['name-value']),
    # Octave-only and unknown functions, called or by command syntax.
    ("printf('%d\\n', 3);", ['unknown-function']),
    ("puts('x');", ['unknown-function']),
    ("fdisp(1, 3);", ['unknown-function']),
    ("y = frobnicate(3);", ['unknown-function']),
    ("h = @frobnicate;", ['unknown-function']),
    ("pkg load statistics", ['unknown-function']),
    ("x = 1; frobnicate on", ['unknown-function']),
    # A MATLAB function newer than the oldest supported release.
    ("t = readlines('a.txt');", ['newer-release']),
    # Octave guards applied narrowly: not in the else branch, not negated,
    # not joined with ||, and a marker must mark something.
    ("if exist('OCTAVE_VERSION', 'builtin')\n  x = 1;\nelse\n  printf('x');\nend", ['unknown-function']),
    ("if ~exist('OCTAVE_VERSION', 'builtin')\n  printf('x');\nend", ['unknown-function']),
    ("if exist('OCTAVE_VERSION', 'builtin') == 0\n  printf('x');\nend", ['unknown-function']),
    ("if exist('OCTAVE_VERSION', 'builtin') || x\n  printf('x');\nend", ['unknown-function']),
    ("inOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;\ninOctave = false;\nif inOctave\n  printf('x');\nend",
     ['unknown-function']),
    ("if exist('OCTAVE_VERSION', 'builtin')\n  x = 1;\nend\nprintf('x');", ['unknown-function']),
    ("x = 1;  % octave-only", ['unused-marker']),
    ("y = zeros(3);  % octave-only", ['unused-marker']),
    ('s = [\'a\' "b"];', ['double-quote']),
    ("if x\n  y = 1;\nelse printf('x');\nend", ['unknown-function']),
    # Syntax stays checked inside a guard.
    ("if exist('OCTAVE_VERSION', 'builtin')\n  x += 1;\nend", ['operator']),
    # Some functions of a file end with end and some do not.
    ("function f()\n  x = 1;\nend\nfunction g()\n  x = 2;", ['end-mix']),
    ("x = 1;\nfunction f()\n  y = 1;\nend\nx = 2;", ['after-function']),
]

GOOD = [
    # Transposes after identifiers, fields, calls, braces and brackets.
    "y = a';",
    "y = a.';",
    "y = a'';",
    "y = s.field';",
    "y = x(1)';",
    "y = b{2}';",
    "y = [1 2 3]';",
    "y = {'a', 'b'}';",
    "y = [a' b'];",
    "y = [a', b'] * c';",
    "y = a(end)';",
    "y = 2';",
    # Quotes in strings and comments.
    "s = 'it''s';",
    "s = '''';",
    "s = 'x'; % it's a comment with \"quotes\" and a # and a !",
    "% a comment: it's ! != # ++ endif \"text\" printf",
    "s = [a 'str'];",
    "s = [a, 'it''s'];",
    # % ! # and operators inside strings.
    "s = '100%';",
    "fprintf('%d%%\\n', 3);",
    "s = '!';",
    "s = 'a != b';",
    "s = '#1';",
    "s = 'x++; y += 1; endif';",
    's = \'say "hi"\';',
    # Continuations and block comments.
    "y = max(1, ... a comment with ' and \" and # and printf\n        2);",
    "x = [1, 2, ...\n     3];",
    "%{\nprintf('inside a block comment'); x += 1; endif\n%}\nx = 1;",
    "%{\n%{\nnested\n%}\nprintf('still inside');\n%}\nx = 1;",
    # Octave's test blocks are not checked.
    "x = 1;\n%!test\n%! printf('ok\\n');\n%! assert (! false);\n%! x += 1;",
    # Variables, parameters, outputs, fields and anonymous functions.
    "function y = f(x, varargin)\n  y = x + numel(varargin);\nend",
    "function [a, b] = f(c)\n  [a, ~] = size(c);\n  b = a;\nend",
    "function f(s, name)\n  c = s.abs;\n  d = s.(name);\n  e = s.data.printf;\nend",
    "f = @(x, y) x.^2 + y;",
    "h = @sin;",
    "c = cellfun(@(v) numel(v), {1, [1 2]});",
    "for k = 1:3\n  y(k) = k;\nend",
    "try\n  y = 1;\ncatch err\n  disp(err.message);\nend",
    "[s.a, t{2}, u(3)] = deal(1);",
    "value = 3;\ny = value(2);",
    "tpl = otk_template(0, 1, 1);",
    "function y = f(x)\n  y = g(x);\nend\nfunction y = g(x)\n  y = x;\nend",
    "function y = f(x)\n  y = x;\nfunction y = g(x)\n  y = x;",
    "y = x';  z = 'str';",
    "y = x'; % it's",
    "fprintf('%s\\n', 'a''b');",
    "c = {'a'; 'b'};",
    "plan = {\n  'a', 1\n  'b', 2\n};",
    "switch x\n  case 'a'\n    y = 1;\n  case {'b', 'c'}\n    y = 2;\n  otherwise\n    y = 3;\nend",
    "if x\n  y = 1;\nelse z = 2;\n  y = z;\nend",
    # Command syntax.
    "if x\n  y = 1;\nelse hold on\nend",
    "hold on",
    "format long",
    "warning off",
    "x = 1; hold on; y = 2;",
    "disp 'it''s'",
    "close all % a comment",
    # Octave-only calls behind a guard or a marker.
    "if exist('OCTAVE_VERSION', 'builtin')\n  printf('x');\nend",
    "if exist('OCTAVE_VERSION', 'builtin') ~= 0\n  printf('x');\nend",
    "if (exist('OCTAVE_VERSION', 'builtin') > 0) && true\n  printf('x');\nend",
    "inOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;\nif inOctave\n  fflush(stdout);\nend",
    "isOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;\nif isOctave\n  x = 1;\nelseif false\n"
    "  y = 2;\nelse\n  z = 3;\nend",
    "if x\n  y = 1;\nelseif exist('OCTAVE_VERSION', 'builtin')\n  printf('x');\nend",
    "fflush(stdout); % octave-only",
    "if exist('OCTAVE_VERSION', 'builtin')\n  if isempty(file_in_path(getenv('PATH'), 'gnuplot'))\n"
    "    x = 1;\n  end\n  graphics_toolkit('gnuplot');\nend",
    # MATLAB's own operators and numbers.
    "y = a ~= b && ~c || d <= e;",
    "y = a .* b ./ c .^ 2 - -1 + 1e-5 + .5 + 3i;",
    "y = x(:, end - 1);",
    "y = c{1}(2);",
    "y = s(2).name;",
]


def main():
    passed = failed = 0
    cases = [(source, sorted(kinds)) for source, kinds in BAD] + [(source, []) for source in GOOD]
    for source, expected in cases:
        findings = checker.check_source(source, visible=TOOLBOX)
        got = sorted(f.code for f in findings)
        if got == expected:
            passed += 1
        else:
            failed += 1
            print('FAIL %r\n  expected %s\n  got      %s' % (source, expected,
                                                              ['%d: %s' % (f.line, f.message) for f in findings]))
    # The tree's own checks: the README states the floor, nothing excluded
    # by accident, and the whole check stays fast.
    for name, ok in self_checks():
        if ok:
            passed += 1
        else:
            failed += 1
            print('FAIL %s' % name)
    print('%d passed, %d failed' % (passed, failed))
    return 1 if failed else 0


def self_checks():
    """Checks on the real tree: which files are found, and the README."""
    import time
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    files = {os.path.relpath(f, root) for f in checker.shipped_files(root)}
    wanted = {'build_plugins.m', 'demo/toolbox_demo.m', 'otk/Contents.m', 'otk/otk_template.m',
              'Halvery/Halvery.m', 'Porrith/Porrith.m'}
    yield 'the shipped files are found (%s)' % ', '.join(sorted(wanted - files)), wanted <= files
    unwanted = {f for f in files if f.split(os.sep)[0] in ('bench', 'package', 'tests', 'docs', 'build')}
    yield 'excluded folders stay out (%s)' % ', '.join(sorted(unwanted)), not unwanted
    yield 'README.md states the oldest supported release', not checker.check_readme(root, checker.FLOOR)
    start = time.time()
    with open(os.devnull, 'w') as quiet:
        saved, sys.stdout = sys.stdout, quiet
        try:
            checker.main(['--root', root])
        finally:
            sys.stdout = saved
    elapsed = time.time() - start
    yield 'the whole check takes %.2f s, under 5 s' % elapsed, elapsed < 5


if __name__ == '__main__':
    sys.exit(main())
