#!/usr/bin/env python3
r"""Checks that every .m file the toolbox ships is valid MATLAB.

Only Octave runs where the toolbox is developed, and Octave accepts a good
deal that MATLAB rejects. This checker reads the shipped .m files (the otk_
functions and their private helpers, the plug-ins' help files, Contents.m,
the demo, build_plugins.m: every .m file of the source tree outside the
EXCLUDED folders below, found anew on every run) and reports

  * Octave-only syntax: ! and != for not, # comments and #{ #} blocks,
    ++ -- += -= *= /= ^= **, the end-keyword variants (endif, endfor,
    endfunction, end_try_catch, ...), unwind_protect, do ... until,
    double-quoted strings, default values in a function signature, indexing
    the result of a call or a literal (f(x)(2), [1 2](1)), chained
    assignment (a = b = 1), Name=Value arguments (R2021a, newer than the
    floor), functions of one file of which some end with end and some not,
    and script code after a local function;
  * every called function that is neither a MATLAB function of the
    allow-list below (no newer than the oldest supported release) nor defined
    by the toolbox: a function file of the shipped folders (private/ ones
    only for their parent folder), a subfunction of the same file, or a
    compiled plug-in or otk_ function.

Double-quoted strings are refused altogether: in Octave "..." is a char
array with backslash escapes, in MATLAB (R2017a on) a string object without
escapes, and [ "a" "b" ] or "a\n" mean different things in the two. Write
'...' and let sprintf/fprintf expand \n.

Lines starting with %! (Octave's test and demo blocks) are comments to MATLAB
and are not checked. Octave-only calls are allowed in two marked places:
  * inside the then-branch of an if whose condition is an Octave test:
    exist('OCTAVE_VERSION', 'builtin') (optionally ~= 0 or > 0), or a
    variable assigned once from such a test (inOctave = exist(...) ~= 0),
    possibly joined to other conditions with &&; not in its else branch
    (an elseif with its own Octave test guards its own branch), and not when
    the test is negated, compared with == or joined with ||;
  * on a line ending with the comment % octave-only (for code that runs in
    Octave only for a reason the checker cannot see). A marker on a line
    without an Octave-only call is itself reported.
Octave-only syntax is reported everywhere: MATLAB's parser rejects the whole
file, guarded or not.

Not modelled: nested functions (each function is its own scope), command
syntax led by an operator (x -y), functions called by name in strings
(feval('name'), str2func('name')), and classdef files.

    check_matlab_syntax.py [--root DIR] [FILE...]

Prints each finding as file:line: message, then the number of files that
passed and failed; exits 1 when there is a finding.
"""
import argparse
import os
import re
import sys
from collections import namedtuple

# The oldest MATLAB release the toolbox supports: build_plugins.m compiles
# with mex -R2017b, an option that appeared in R2018a. README.md states the
# same release; the check below compares the two.
FLOOR = 'R2018a'

# Folders (from the repository root) whose .m files are not shipped MATLAB
# code, each with the reason. Build trees (a CMakeCache.txt) and hidden
# folders are skipped as well.
EXCLUDED = {
    'bench': 'Octave-only benchmark scripts (tools/bench.sh), not shipped',
    'package': 'Octave package install hooks (post_install.m), run by pkg in Octave only',
    'tests': 'the Octave tests and their helpers, run by ctest in Octave',
    'docs': 'Octave-only script that draws docs/geometry.png with the gnuplot toolkit, not shipped',
    'build': 'build output: copies of the shipped files',
}

# otk_ functions that are (or are becoming) compiled, each also present as
# an .m file: defined either way. Compiled plug-ins NAME/NAME.cpp and
# otk/*.cpp are found by globbing.
COMPILED = ['otk_score_template', 'otk_search_transform', 'otk_transform_template', 'otk_warp_maps',
            'otk_warp_stacks', 'otk_saturate', 'otk_response_density']

# MATLAB functions the toolbox may call, each with the release it appeared
# in. 'R2006a' stands for "R2006a or earlier": the first release named that
# way, and as far back as this list looks (most of these are far older).
# Where a release is not known for sure, a later one is given. A function
# newer than FLOOR is reported where it is used.
MATLAB_FUNCTIONS = {
    # Language, errors and evaluation.
    'ans': 'R2006a', 'assignin': 'R2006a', 'clear': 'R2006a', 'help': 'R2006a', 'error': 'R2006a', 'eval': 'R2006a',
    'evalc': 'R2006a', 'evalin': 'R2006a', 'exist': 'R2006a', 'feval': 'R2006a', 'func2str': 'R2006a',
    'inputname': 'R2006a', 'isvarname': 'R2006a', 'lasterr': 'R2006a', 'mfilename': 'R2006a',
    'nargin': 'R2006a', 'nargout': 'R2006a', 'rethrow': 'R2006a', 'str2func': 'R2006a',
    'warning': 'R2006a', 'which': 'R2006a', 'assert': 'R2007b', 'MException': 'R2007b',
    'onCleanup': 'R2008a', 'narginchk': 'R2011b', 'nargoutchk': 'R2011b',
    # Constants and array construction.
    'eps': 'R2006a', 'eye': 'R2006a', 'false': 'R2006a', 'i': 'R2006a', 'Inf': 'R2006a',
    'inf': 'R2006a', 'intmax': 'R2006a', 'intmin': 'R2006a', 'j': 'R2006a', 'linspace': 'R2006a',
    'magic': 'R2006a', 'meshgrid': 'R2006a', 'NaN': 'R2006a', 'nan': 'R2006a', 'ndgrid': 'R2006a',
    'ones': 'R2006a', 'pi': 'R2006a', 'rand': 'R2006a', 'randn': 'R2006a', 'realmax': 'R2006a',
    'realmin': 'R2006a', 'true': 'R2006a', 'zeros': 'R2006a', 'randi': 'R2008b', 'rng': 'R2011a',
    # Sizes, shapes and tests.
    'cat': 'R2006a', 'circshift': 'R2006a', 'fliplr': 'R2006a', 'flipud': 'R2006a', 'horzcat': 'R2006a',
    'isempty': 'R2006a', 'isequal': 'R2006a', 'isscalar': 'R2006a', 'isvector': 'R2006a',
    'kron': 'R2006a', 'length': 'R2006a', 'ndims': 'R2006a', 'numel': 'R2006a', 'permute': 'R2006a',
    'repmat': 'R2006a', 'reshape': 'R2006a', 'rot90': 'R2006a', 'size': 'R2006a', 'squeeze': 'R2006a',
    'vertcat': 'R2006a', 'iscolumn': 'R2010b', 'ismatrix': 'R2010b', 'isrow': 'R2010b',
    'isequaln': 'R2012a', 'flip': 'R2013b',
    # Types and classes.
    'cell': 'R2006a', 'cell2mat': 'R2006a', 'cell2struct': 'R2006a', 'cellfun': 'R2006a',
    'char': 'R2006a', 'class': 'R2006a', 'deal': 'R2006a', 'double': 'R2006a', 'fieldnames': 'R2006a',
    'full': 'R2006a', 'getfield': 'R2006a', 'int16': 'R2006a', 'int32': 'R2006a', 'int64': 'R2006a',
    'int8': 'R2006a', 'isa': 'R2006a', 'iscell': 'R2006a', 'iscellstr': 'R2006a', 'ischar': 'R2006a',
    'isfield': 'R2006a', 'isfloat': 'R2006a', 'isinteger': 'R2006a', 'islogical': 'R2006a',
    'isnumeric': 'R2006a', 'isreal': 'R2006a', 'issparse': 'R2006a', 'isstruct': 'R2006a',
    'logical': 'R2006a', 'num2cell': 'R2006a', 'orderfields': 'R2006a', 'rmfield': 'R2006a',
    'setfield': 'R2006a', 'single': 'R2006a', 'sparse': 'R2006a', 'struct': 'R2006a',
    'struct2cell': 'R2006a', 'structfun': 'R2006a', 'arrayfun': 'R2006a', 'uint16': 'R2006a',
    'uint32': 'R2006a', 'uint64': 'R2006a', 'uint8': 'R2006a',
    # Arithmetic and elementary functions.
    'abs': 'R2006a', 'acos': 'R2006a', 'asin': 'R2006a', 'atan': 'R2006a', 'atan2': 'R2006a',
    'ceil': 'R2006a', 'cos': 'R2006a', 'cosh': 'R2006a', 'exp': 'R2006a', 'fix': 'R2006a',
    'floor': 'R2006a', 'hypot': 'R2006a', 'isfinite': 'R2006a', 'isinf': 'R2006a', 'isnan': 'R2006a',
    'log': 'R2006a', 'log10': 'R2006a', 'log2': 'R2006a', 'mod': 'R2006a', 'power': 'R2006a',
    'rem': 'R2006a', 'round': 'R2006a', 'sign': 'R2006a', 'sin': 'R2006a', 'sinh': 'R2006a',
    'sqrt': 'R2006a', 'tan': 'R2006a', 'tanh': 'R2006a', 'bitand': 'R2006a', 'bitor': 'R2006a',
    'bitshift': 'R2006a', 'bitxor': 'R2006a', 'complex': 'R2006a', 'conj': 'R2006a', 'imag': 'R2006a',
    'real': 'R2006a', 'typecast': 'R2006a', 'bsxfun': 'R2007a',
    # Reductions, sorting, sets and searching.
    'accumarray': 'R2006a', 'all': 'R2006a', 'any': 'R2006a', 'cumprod': 'R2006a', 'cumsum': 'R2006a',
    'diff': 'R2006a', 'find': 'R2006a', 'histc': 'R2006a', 'intersect': 'R2006a', 'ismember': 'R2006a',
    'max': 'R2006a', 'mean': 'R2006a', 'median': 'R2006a', 'min': 'R2006a', 'mode': 'R2006a',
    'nnz': 'R2006a', 'prod': 'R2006a', 'setdiff': 'R2006a', 'setxor': 'R2006a', 'sort': 'R2006a',
    'sortrows': 'R2006a',
    'std': 'R2006a', 'sum': 'R2006a', 'union': 'R2006a', 'unique': 'R2006a', 'var': 'R2006a',
    'histcounts': 'R2014b',
    # Linear algebra, indexing and signal processing.
    'conv': 'R2006a', 'conv2': 'R2006a', 'det': 'R2006a', 'diag': 'R2006a', 'dot': 'R2006a',
    'filter2': 'R2006a', 'ind2sub': 'R2006a', 'interp1': 'R2006a', 'interp2': 'R2006a', 'inv': 'R2006a',
    'norm': 'R2006a',
    'sub2ind': 'R2006a', 'trace': 'R2006a', 'tril': 'R2006a', 'triu': 'R2006a',
    # Text.
    'blanks': 'R2006a', 'deblank': 'R2006a', 'disp': 'R2006a', 'fprintf': 'R2006a', 'int2str': 'R2006a',
    'isletter': 'R2006a', 'isspace': 'R2006a', 'isstrprop': 'R2006a', 'lower': 'R2006a',
    'mat2str': 'R2006a', 'num2str': 'R2006a', 'regexp': 'R2006a', 'regexpi': 'R2006a',
    'regexprep': 'R2006a', 'sprintf': 'R2006a', 'sscanf': 'R2006a', 'str2double': 'R2006a', 'str2num': 'R2006a',
    'strcat': 'R2006a', 'strcmp': 'R2006a', 'strcmpi': 'R2006a', 'strfind': 'R2006a',
    'strncmp': 'R2006a', 'strncmpi': 'R2006a', 'strrep': 'R2006a', 'strtok': 'R2006a',
    'strtrim': 'R2006a', 'strvcat': 'R2006a', 'upper': 'R2006a', 'strjoin': 'R2013a',
    'strsplit': 'R2013a', 'contains': 'R2016b', 'endsWith': 'R2016b', 'isstring': 'R2016b',
    'newline': 'R2016b', 'startsWith': 'R2016b', 'string': 'R2016b', 'strlength': 'R2016b',
    'convertStringsToChars': 'R2017b', 'isStringScalar': 'R2017b', 'matches': 'R2019b',
    # Files, folders and the system.
    'addpath': 'R2006a', 'cd': 'R2006a', 'computer': 'R2006a', 'copyfile': 'R2006a', 'delete': 'R2006a',
    'dir': 'R2006a', 'fclose': 'R2006a', 'feof': 'R2006a', 'fgetl': 'R2006a', 'fgets': 'R2006a',
    'filesep': 'R2006a', 'fileparts': 'R2006a', 'fopen': 'R2006a', 'fread': 'R2006a',
    'fscanf': 'R2006a', 'fullfile': 'R2006a', 'fwrite': 'R2006a', 'getenv': 'R2006a',
    'imread': 'R2006a', 'imwrite': 'R2006a', 'ispc': 'R2006a', 'isunix': 'R2006a', 'mex': 'R2006a',
    'matlabroot': 'R2006a', 'mexext': 'R2006a', 'mkdir': 'R2006a', 'movefile': 'R2006a', 'pathsep': 'R2006a', 'pwd': 'R2006a',
    'rmdir': 'R2006a', 'rmpath': 'R2006a', 'system': 'R2006a', 'tempdir': 'R2006a', 'tempname': 'R2006a',
    'textscan': 'R2006a', 'version': 'R2006a', 'fileread': 'R2008a', 'ismac': 'R2008a',
    'setenv': 'R2008a', 'verLessThan': 'R2008a', 'isfile': 'R2017b', 'isfolder': 'R2017b',
    'readlines': 'R2020b',
    # Time.
    'clock': 'R2006a', 'datestr': 'R2006a', 'etime': 'R2006a', 'now': 'R2006a', 'pause': 'R2006a',
    'tic': 'R2006a', 'toc': 'R2006a',
    # Graphics.
    'axis': 'R2006a', 'bar': 'R2006a', 'close': 'R2006a', 'colormap': 'R2006a', 'drawnow': 'R2006a',
    'figure': 'R2006a', 'format': 'R2006a', 'gca': 'R2006a', 'gcf': 'R2006a', 'get': 'R2006a',
    'grid': 'R2006a', 'hold': 'R2006a', 'image': 'R2006a', 'imagesc': 'R2006a', 'legend': 'R2006a',
    'line': 'R2006a', 'plot': 'R2006a', 'print': 'R2006a', 'set': 'R2006a', 'subplot': 'R2006a',
    'text': 'R2006a', 'title': 'R2006a', 'xlabel': 'R2006a', 'ylabel': 'R2006a',
    'exportgraphics': 'R2020a',
}

# Octave functions that MATLAB lacks, with what to write instead: only for
# a clearer message; every name missing from MATLAB_FUNCTIONS is reported.
OCTAVE_ONLY = {
    'printf': 'fprintf', 'puts': 'fprintf', 'fputs': 'fprintf', 'fdisp': 'disp or fprintf',
    'fflush': 'nothing (MATLAB does not buffer)', 'columns': 'size(x, 2)', 'rows': 'size(x, 1)',
    'isargout': 'nargout', 'print_usage': 'error', 'unsetenv': "setenv(name, '')",
    'file_in_path': 'which or exist', 'graphics_toolkit': 'nothing', 'stdout': '1', 'stderr': '2',
}

KEYWORDS = {'break', 'case', 'catch', 'classdef', 'continue', 'else', 'elseif', 'end', 'for', 'function',
            'global', 'if', 'otherwise', 'parfor', 'persistent', 'return', 'spmd', 'switch', 'try', 'while'}

# Octave's keywords that MATLAB lacks, with MATLAB's word for each.
OCTAVE_KEYWORDS = {
    'endif': 'end', 'endfor': 'end', 'endwhile': 'end', 'endfunction': 'end', 'endswitch': 'end',
    'end_try_catch': 'end', 'end_unwind_protect': 'end', 'endparfor': 'end', 'endspmd': 'end',
    'endclassdef': 'end', 'endmethods': 'end', 'endproperties': 'end', 'endevents': 'end',
    'endenumeration': 'end', 'unwind_protect': 'try/catch or onCleanup',
    'unwind_protect_cleanup': 'try/catch or onCleanup', 'do': 'while', 'until': 'while',
}
OCTAVE_BLOCK_ENDS = {name for name, word in OCTAVE_KEYWORDS.items() if word == 'end'} | {'until'}
BLOCK_OPENERS = {'for', 'parfor', 'while', 'switch', 'try', 'spmd', 'unwind_protect', 'do'}
# Keywords that take nothing after them: a statement may follow on their line.
ALONE = {'else', 'try', 'otherwise'}

# Octave's operators that MATLAB lacks, with MATLAB's way.
OCTAVE_OPERATORS = {
    '!': '~', '!=': '~=', '++': 'x = x + 1', '--': 'x = x - 1', '+=': 'x = x + y', '-=': 'x = x - y',
    '*=': 'x = x * y', '/=': 'x = x / y', '^=': 'x = x ^ y', '|=': 'x = x | y', '&=': 'x = x & y',
    '**': '^',
}
TWO_CHAR_OPERATORS = ['==', '~=', '<=', '>=', '&&', '||', '.*', './', '.\\', '.^', ".'"] + \
                     [op for op in OCTAVE_OPERATORS if len(op) == 2]
ONE_CHAR_OPERATORS = '+-*/\\^<>=&|~!()[]{},;:.@'

IDENTIFIER = re.compile(r'[A-Za-z_]\w*')
NUMBER = re.compile(r'(\d+\.?\d*|\.\d+)([eEdD][+-]?\d+)?[ij]?')
MARKER = re.compile(r'%\s*octave-only\b')

Token = namedtuple('Token', 'kind text line space')
# kind: 'id' (identifier or keyword), 'cmd' (the function word of command
# syntax), 'arg' (a command-syntax argument), 'num', 'str' ('...'), 'dq'
# ("..."), 'op', 'eol' (a line end that ends a statement). space: whether
# whitespace stands before the token on its line.

Finding = namedtuple('Finding', 'line code message')


# ---------------------------------------------------------------------------
# Tokens.

def is_value(token):
    """Whether a quote right after this token is a transpose."""
    if token.kind in ('num', 'str', 'dq'):
        return True
    if token.kind == 'id':
        return token.text not in KEYWORDS or token.text == 'end'
    return token.kind == 'op' and token.text in (')', ']', '}', "'", ".'")


def command_follows(line, i):
    """Whether the text after an identifier at a statement's start makes it
    command syntax (hold on, format long, disp 'x'): whitespace, then a word,
    a number, a quote or -word, not an operator or = or (."""
    m = re.match(r'[ \t]+', line[i:])
    if not m:
        return False
    rest = line[i + m.end():]
    if not rest or rest[0] in ';,%':
        return False
    if rest.startswith('...'):
        return False
    return rest[0].isalnum() or rest[0] in '_\'"' or re.match(r'-[A-Za-z]', rest) is not None


def scan_command_args(line, i, number, tokens):
    """The arguments of command syntax, as 'arg' tokens, up to ; , % or the
    line's end; returns where scanning stopped."""
    n = len(line)
    while i < n:
        c = line[i]
        if c in ' \t':
            i += 1
        elif c in ';,%':
            return i
        else:
            start = i
            while i < n and line[i] not in ' \t;,%':
                if line[i] == "'":
                    i += 1
                    while i < n and not (line[i] == "'" and not line.startswith("''", i)):
                        i += 2 if line.startswith("''", i) else 1
                i += 1
            tokens.append(Token('arg', line[start:i], number, True))
    return i


def tokenize(text):
    """Tokens of MATLAB source, the findings of the scan itself (# comments,
    unterminated strings, stray characters), and the numbers of the lines
    that carry an % octave-only marker."""
    tokens, findings, markers = [], [], set()
    brackets = []       # the open ( [ { of the statement
    block_comment = 0   # depth of %{ ... %} blocks
    continued = False   # the previous line ended in ...
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith('%!'):
            line = ''   # Octave's test and demo blocks: comments to MATLAB
        stripped = line.strip()
        if stripped in ('%{', '#{'):
            if stripped == '#{':
                findings.append(Finding(number, 'hash-comment', "'#{' block comment is Octave-only; use '%{'"))
            block_comment += 1
            continue
        if block_comment:
            if stripped in ('%}', '#}'):
                if stripped == '#}':
                    findings.append(Finding(number, 'hash-comment', "'#}' block comment is Octave-only; use '%}'"))
                block_comment -= 1
            continue
        space = continued
        continued = False
        i, n = 0, len(line)
        while i < n:
            c = line[i]
            if c in ' \t':
                space = True
                i += 1
                continue
            if c == '%':
                if MARKER.match(line, i):
                    markers.add(number)
                break
            if c == '#':
                findings.append(Finding(number, 'hash-comment', "'#' comment is Octave-only; use '%'"))
                break
            if line.startswith('...', i):
                continued = True
                break
            at_start = not brackets and (not tokens or tokens[-1].kind == 'eol' or
                                         (tokens[-1].kind == 'op' and tokens[-1].text in (';', ',')) or
                                         (tokens[-1].kind == 'id' and tokens[-1].text in ALONE))
            if c.isalpha() or c == '_':
                word = IDENTIFIER.match(line, i).group()
                i += len(word)
                if at_start and word not in KEYWORDS and word not in OCTAVE_KEYWORDS and command_follows(line, i):
                    tokens.append(Token('cmd', word, number, space))
                    i = scan_command_args(line, i, number, tokens)
                    if i < n and line[i] in ';,':
                        tokens.append(Token('op', line[i], number, False))
                        i += 1
                else:
                    tokens.append(Token('id', word, number, space))
            elif c.isdigit() or (c == '.' and line[i + 1:i + 2].isdigit()):
                m = NUMBER.match(line, i)
                tokens.append(Token('num', m.group(), number, space))
                i = m.end()
            elif c == "'" and tokens and tokens[-1].kind != 'eol' and is_value(tokens[-1]) and \
                    not (space and brackets and brackets[-1] in '[{'):
                tokens.append(Token('op', "'", number, space))   # transpose
                i += 1
            elif c == "'":
                j = i + 1
                while True:
                    k = line.find("'", j)
                    if k < 0:
                        findings.append(Finding(number, 'syntax', 'unterminated string'))
                        k = n
                        break
                    if line.startswith("''", k):
                        j = k + 2
                        continue
                    break
                tokens.append(Token('str', line[i + 1:k], number, space))
                i = k + 1
            elif c == '"':
                j = i + 1
                while j < n:
                    if line[j] == '\\':
                        j += 2
                    elif line.startswith('""', j):
                        j += 2
                    elif line[j] == '"':
                        break
                    else:
                        j += 1
                if j >= n:
                    findings.append(Finding(number, 'syntax', 'unterminated string'))
                tokens.append(Token('dq', line[i + 1:j], number, space))
                i = j + 1
            else:
                op = line[i:i + 2] if line[i:i + 2] in TWO_CHAR_OPERATORS else c
                if op not in TWO_CHAR_OPERATORS and op not in ONE_CHAR_OPERATORS:
                    findings.append(Finding(number, 'syntax', 'unexpected character %r' % c))
                    i += 1
                    continue
                if op in '([{':
                    brackets.append(op)
                elif op in ')]}' and brackets:
                    brackets.pop()
                tokens.append(Token('op', op, number, space))
                i += len(op)
            space = False
        # A line end ends the statement, unless it is continued or lies
        # inside brackets (rows of a matrix or cell array).
        if not continued and not brackets and tokens and tokens[-1].kind != 'eol':
            tokens.append(Token('eol', '', number, False))
    return tokens, findings, markers


# ---------------------------------------------------------------------------
# Statements and functions.

def split_statements(tokens):
    """Lists of tokens, one per statement: split at line ends and at ; and ,
    outside brackets, and after else, try and otherwise."""
    statements, current, depth = [], [], 0
    for t in tokens:
        if not current and t.kind == 'id' and t.text in ALONE:
            statements.append([t])
            continue
        if t.kind == 'op' and t.text in '([{':
            depth += 1
        elif t.kind == 'op' and t.text in ')]}':
            depth = max(0, depth - 1)
        if depth == 0 and (t.kind == 'eol' or (t.kind == 'op' and t.text in (';', ','))):
            if current:
                statements.append(current)
            current = []
            continue
        current.append(t)
    if current:
        statements.append(current)
    return statements


def depth_of_each(tokens):
    """The bracket depth at each token (an opening bracket counts outside)."""
    depths, depth = [], 0
    for t in tokens:
        if t.kind == 'op' and t.text in ')]}':
            depth = max(0, depth - 1)
        depths.append(depth)
        if t.kind == 'op' and t.text in '([{':
            depth += 1
    return depths


def top_level(tokens, text):
    """Index of the first op TEXT outside brackets, or None."""
    for k, (t, d) in enumerate(zip(tokens, depth_of_each(tokens))):
        if d == 0 and t.kind == 'op' and t.text == text:
            return k
    return None


class Scope:
    """A function (or the script part of a file): its name, the names it
    binds (parameters, outputs) and its statements."""

    def __init__(self, name, line, bound):
        self.name, self.line, self.bound, self.statements = name, line, set(bound), []


def parse_signature(statement, findings):
    """A Scope from a function statement; reports default values."""
    rest = statement[1:]
    eq = top_level(rest, '=')
    outputs = [t.text for t in rest[:eq] if t.kind == 'id'] if eq is not None else []
    after = rest[eq + 1:] if eq is not None else rest
    name_tokens = []
    for t in after:
        if t.kind == 'op' and t.text == '(':
            break
        name_tokens.append(t.text)
    params = []
    depths = depth_of_each(after)
    default = False
    for t, d in zip(after, depths):
        if d >= 1 and t.kind == 'op' and t.text == '=':
            default = True
        if d == 1 and t.kind == 'id' and not default:
            params.append(t.text)
    if default:
        findings.append(Finding(statement[0].line, 'default-value',
                                'default values in a function signature are Octave-only; '
                                'use nargin and an if'))
    return Scope(''.join(name_tokens), statement[0].line, outputs + params)


def split_functions(statements, findings):
    """The scopes of a file: the script part (name None), then each function."""
    scopes = [Scope(None, 1, [])]
    for s in statements:
        if s[0].kind == 'id' and s[0].text == 'function':
            scopes.append(parse_signature(s, findings))
        else:
            scopes[-1].statements.append(s)
    return scopes


def assignment_targets(lhs):
    """The variables that the left-hand side of an assignment binds."""
    if not lhs:
        return set()
    if lhs[0].kind == 'op' and lhs[0].text == '[':
        names = set()
        for k, (t, d) in enumerate(zip(lhs, depth_of_each(lhs))):
            if d == 1 and t.kind == 'id' and not (k and lhs[k - 1].text == '.'):
                names.add(t.text)
        return names
    return {lhs[0].text} if lhs[0].kind == 'id' else set()


def bound_names(statement):
    """The names a statement binds: assignment targets, a for loop variable,
    a catch variable, global and persistent names, and the parameters of
    anonymous functions (taken as bound in the whole function)."""
    first = statement[0]
    names = set()
    if first.kind == 'id' and first.text in ('for', 'parfor'):
        ids = [t for t in statement[1:] if t.kind == 'id']
        if ids:
            names.add(ids[0].text)
    elif first.kind == 'id' and first.text in ('global', 'persistent'):
        names |= {t.text for t in statement[1:] if t.kind == 'id'}
    elif first.kind == 'id' and first.text == 'catch':
        if len(statement) > 1 and statement[1].kind == 'id':
            names.add(statement[1].text)
    else:
        eq = top_level(statement, '=')
        if eq is not None:
            names |= assignment_targets(statement[:eq])
    for k, t in enumerate(statement[:-1]):
        if t.kind == 'op' and t.text == '@' and statement[k + 1].text == '(':
            for u in statement[k + 2:]:
                if u.kind == 'op' and u.text == ')':
                    break
                if u.kind == 'id':
                    names.add(u.text)
    return names


def strip_parens(tokens):
    """The expression without parentheses around the whole of it."""
    def enclosed(tokens):
        depth = 0
        for k, t in enumerate(tokens):
            if t.kind == 'op' and t.text in '([{':
                depth += 1
            elif t.kind == 'op' and t.text in ')]}':
                depth -= 1
            if depth == 0 and k < len(tokens) - 1:
                return False
        return True
    while len(tokens) >= 2 and tokens[0].text == '(' and tokens[-1].text == ')' and enclosed(tokens):
        tokens = tokens[1:-1]
    return tokens


def is_octave_test(tokens, guard_variables):
    """Whether an expression is true in Octave only: exist('OCTAVE_VERSION'
    [, 'builtin']) [~= 0 | > 0], or a guard variable."""
    tokens = strip_parens(tokens)
    texts = [t.text for t in tokens]
    if len(tokens) == 1 and tokens[0].kind == 'id':
        return tokens[0].text in guard_variables
    if texts[:3] != ['exist', '(', 'OCTAVE_VERSION'] or tokens[2].kind != 'str':
        return False
    close = top_level(tokens[1:], ')')
    if close is None:
        return False
    inside = texts[3:close + 1]
    tail = texts[close + 2:]
    return inside in ([], [',', 'builtin']) and tail in ([], ['~=', '0'], ['>', '0'])


def is_octave_condition(tokens, guard_variables):
    """Whether an if condition holds in Octave only: an Octave test, alone or
    joined to other conditions with && (never ||, never negated)."""
    tokens = strip_parens(tokens)
    parts, current = [], []
    for t, d in zip(tokens, depth_of_each(tokens)):
        if d == 0 and t.kind == 'op' and t.text in ('||', '|'):
            return False
        if d == 0 and t.kind == 'op' and t.text == '&&':
            parts.append(current)
            current = []
        else:
            current.append(t)
    parts.append(current)
    return any(is_octave_test(part, guard_variables) for part in parts if part)


# ---------------------------------------------------------------------------
# The checks.

def private_folder(path):
    """The private folder whose functions a file in this folder may call."""
    folder = os.path.dirname(os.path.abspath(path))
    if os.path.basename(folder) == 'private':
        return folder
    return os.path.join(folder, 'private')


def check_source(text, visible=frozenset(), floor=FLOOR):
    """Findings for one file's text. VISIBLE: the toolbox's function names
    this file may call (besides its own subfunctions)."""
    tokens, findings, markers = tokenize(text)
    for t in tokens:
        if t.kind == 'dq' and '\\' not in t.text:
            findings.append(Finding(t.line, 'double-quote',
                                    'double-quoted string: a string object in MATLAB, a char array in '
                                    'Octave; use single quotes'))
        elif t.kind == 'dq':
            findings.append(Finding(t.line, 'double-quote',
                                    'double-quoted string with backslash escapes: MATLAB does not expand '
                                    'them; use single quotes and sprintf'))
    scopes = split_functions(split_statements(tokens), findings)
    own = {s.name for s in scopes if s.name}
    used_markers = set()
    ended = 0
    for scope in scopes:
        ended += check_scope(scope, own | set(visible), markers, used_markers, floor, findings)
    functions = [s for s in scopes if s.name is not None]
    if 0 < ended < len(functions):
        findings.append(Finding(functions[0].line, 'end-mix',
                                '%d of the %d functions of this file end with end: MATLAB needs all or '
                                'none' % (ended, len(functions))))
    for line in sorted(markers - used_markers):
        findings.append(Finding(line, 'unused-marker', '% octave-only marker on a line without an '
                                                       'Octave-only call'))
    return sorted(findings)


def check_scope(scope, defined, markers, used_markers, floor, findings):
    """Checks the statements of one function; returns 1 when the function
    is closed by its own end, else 0."""
    variables = set(scope.bound) | {'varargin', 'varargout'}
    assignments = {}
    for s in scope.statements:
        for name in bound_names(s):
            variables.add(name)
            assignments[name] = assignments.get(name, 0) + 1
    guard_variables = set()
    for s in scope.statements:
        eq = top_level(s, '=')
        if eq == 1 and s[0].kind == 'id' and assignments.get(s[0].text) == 1 and \
                is_octave_test(s[2:], set()):
            guard_variables.add(s[0].text)

    blocks = []   # one entry per open block: True inside an Octave-only branch
    closed = 0
    for s in scope.statements:
        if closed:
            findings.append(Finding(s[0].line, 'after-function',
                                    'code after the end of function %s: MATLAB allows only functions '
                                    'there (a script\'s local functions come last)' % scope.name))
            break
        head = s[0].text if s[0].kind == 'id' else ''
        if head in ('elseif', 'else') and blocks:
            blocks[-1] = False
        guarded = any(blocks)
        check_statement(s, variables, defined, guarded, markers, used_markers, floor, findings)
        if head == 'if':
            blocks.append(is_octave_condition(s[1:], guard_variables))
        elif head == 'elseif' and blocks:
            blocks[-1] = is_octave_condition(s[1:], guard_variables)
        elif head in BLOCK_OPENERS:
            blocks.append(False)
        elif head == 'end' or head in OCTAVE_BLOCK_ENDS:
            if blocks:
                blocks.pop()
            elif scope.name is not None:
                closed = 1
    return closed


def check_statement(statement, variables, defined, guarded, markers, used_markers, floor, findings):
    depths = depth_of_each(statement)
    loop = statement[0].kind == 'id' and statement[0].text in ('for', 'parfor')
    for k, t in enumerate(statement):
        previous = statement[k - 1] if k else None
        if t.kind == 'op' and t.text == '=' and not loop:
            if depths[k] > 0:
                findings.append(Finding(t.line, 'name-value',
                                        "'=' inside brackets: Name=Value arguments need MATLAB R2021a"))
            elif top_level(statement, '=') != k:
                findings.append(Finding(t.line, 'chained-assignment',
                                        "a second '=': chained assignment is Octave-only"))
            continue
        if t.kind == 'op':
            if t.text in OCTAVE_OPERATORS:
                findings.append(Finding(t.line, 'operator', "'%s' is Octave-only; MATLAB: %s"
                                        % (t.text, OCTAVE_OPERATORS[t.text])))
            elif t.text in '({' and not t.space and previous is not None and \
                    previous.kind == 'op' and previous.text in (')', ']'):
                findings.append(Finding(t.line, 'chained-index',
                                        "'%s%s': indexing the result of a call or a literal is "
                                        "Octave-only; assign it to a variable first" % (previous.text, t.text)))
            continue
        if t.kind not in ('id', 'cmd'):
            continue
        if previous is not None and previous.kind == 'op' and previous.text == '.':
            continue   # a field name
        if k + 1 < len(statement) and statement[k + 1].text == '=' and depths[k] > 0:
            continue   # the name of a Name=Value argument
        name = t.text
        if name in OCTAVE_KEYWORDS:
            findings.append(Finding(t.line, 'keyword', "'%s' is Octave-only; MATLAB: %s"
                                    % (name, OCTAVE_KEYWORDS[name])))
            continue
        if name in KEYWORDS or name in variables or name in defined:
            continue
        release = MATLAB_FUNCTIONS.get(name)
        if release is not None and release <= floor:
            continue
        if guarded or t.line in markers:
            used_markers.add(t.line)
            continue
        if release is None:
            hint = " (Octave-only; MATLAB: %s)" % OCTAVE_ONLY[name] if name in OCTAVE_ONLY else ''
            findings.append(Finding(t.line, 'unknown-function',
                                    "'%s' is neither a MATLAB function of this check's list (up to %s) "
                                    "nor defined by the toolbox%s" % (name, floor, hint)))
        else:
            findings.append(Finding(t.line, 'newer-release',
                                    "'%s' needs MATLAB %s, newer than the oldest supported %s"
                                    % (name, release, floor)))


# ---------------------------------------------------------------------------
# The toolbox.

def shipped_files(root):
    """Every .m file under ROOT outside EXCLUDED, hidden folders and build
    trees, sorted."""
    found = []
    for folder, subfolders, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        keep = []
        for sub in sorted(subfolders):
            path = os.path.join(folder, sub)
            top = os.path.normpath(os.path.join(relative, sub))
            if sub.startswith('.') or top in EXCLUDED or os.path.exists(os.path.join(path, 'CMakeCache.txt')):
                continue
            keep.append(sub)
        subfolders[:] = keep
        found += [os.path.join(folder, f) for f in sorted(files) if f.endswith('.m')]
    return sorted(found)


def stem(path):
    return os.path.splitext(os.path.basename(path))[0]


def toolbox_functions(root, files):
    """The names every shipped file may call (function files outside private
    folders, compiled plug-ins and otk_ functions), and those of each
    private folder."""
    public = set(COMPILED)
    private = {}
    for path in files:
        folder = os.path.dirname(os.path.abspath(path))
        if os.path.basename(folder) == 'private':
            private.setdefault(folder, set()).add(stem(path))
        elif stem(path) != 'Contents':
            public.add(stem(path))
    for entry in sorted(os.listdir(root)):
        if os.path.isfile(os.path.join(root, entry, entry + '.cpp')):
            public.add(entry)   # a plug-in NAME/NAME.cpp
    otk = os.path.join(root, 'otk')
    if os.path.isdir(otk):
        public |= {stem(f) for f in os.listdir(otk) if f.endswith('.cpp')}
    return public, private


def check_readme(root, floor):
    """README.md must state the oldest supported release this checker uses."""
    path = os.path.join(root, 'README.md')
    if not os.path.exists(path):
        return []
    with open(path, encoding='utf-8') as f:
        lines = f.read().splitlines()
    for number, line in enumerate(lines, 1):
        m = re.search(r'Oldest supported MATLAB release: (R\d{4}[ab])', line)
        if m:
            if m.group(1) != floor:
                return [Finding(number, 'readme', 'README says %s, the checker %s (FLOOR)' % (m.group(1), floor))]
            return []
    return [Finding(1, 'readme', "README.md does not say 'Oldest supported MATLAB release: %s'" % floor)]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--root', default=os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                        help='the repository root (default: two folders above this script)')
    parser.add_argument('files', nargs='*', help='check these files only (default: every shipped .m file)')
    args = parser.parse_args(argv)
    root = os.path.abspath(args.root)
    shipped = shipped_files(root)
    files = [os.path.abspath(f) for f in args.files] or shipped
    public, private = toolbox_functions(root, shipped)

    failed = 0
    results = []
    for path in files:
        with open(path, encoding='utf-8', errors='replace') as f:
            text = f.read()
        visible = public | private.get(private_folder(path), set())
        findings = check_source(text, visible)
        results.append((os.path.relpath(path, root), findings))
    if not args.files:
        results.append(('README.md', check_readme(root, FLOOR)))
    for name, findings in results:
        for finding in findings:
            print('%s:%d: %s' % (name, finding.line, finding.message))
        failed += bool(findings)
    print('check_matlab_syntax: %d files, oldest supported MATLAB release %s; excluded: %s'
          % (len(results), FLOOR, ', '.join(sorted(EXCLUDED))))
    print('%d passed, %d failed' % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
