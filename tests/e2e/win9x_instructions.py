#!/usr/bin/env python3
"""Checks that Win32 programs hold no instruction an i486 lacks.

    win9x_instructions.py --objdump OBJDUMP [--exclude NAME ...] [--expect NAME ...]
                          PROGRAM-or-FOLDER ...

Each program is disassembled with `OBJDUMP -d` (its code sections) and every
instruction is judged against the instruction set of the i486: the 80386's
integer instructions with BSWAP, CMPXCHG, XADD and the cache instructions,
and the 80387's floating point. Anything else fails the check, among it
CMOVcc, FCMOVcc and FCOMI/FUCOMI(P) (Pentium Pro), MMX and SSE registers,
long NOPs (0F 1F) and everything later. CPUID, RDTSC and CMPXCHG8B pass only
inside the functions that res/win9x_cpu.txt names under [feature-tested];
what follows a symbol named there under [data] (tables the linker places in
the code section; "*" ends a name pattern) is not judged. UD2 passes: it exists to raise the invalid
opcode exception, which the i486 raises for its bytes as well.

A folder is searched for programs (*.exe, CMake's own test programs left
out). A program is judged through its symbols, so a stripped one, X.exe, is
judged through the unstripped copy beside it, X.unstripped.exe, whose code
sections must be byte for byte the same. --exclude leaves out programs of
that file name (the negative control); --expect names a program that must be
among those judged.

Prints every offending instruction with its function and a summary per
program; exit status 0 when every program is fit, 1 when one is not, 2 when
a program cannot be read or judged.
"""
import argparse
import fnmatch
import os
import re
import struct
import subprocess
import sys

CPU_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res",
                        "win9x_cpu.txt")

# The i486's instructions as objdump names them (AT&T syntax), without size
# suffixes; SUFFIXED take b, w or l.
SUFFIXED = """
    mov movs add adc sub sbb cmp and or xor test not neg inc dec mul imul div idiv
    push pop xchg cmpxchg xadd shl shr sal sar rol ror rcl rcr shld shrd bt bts btr btc
    lods stos scas cmps ins outs in out lea bound
    """.split()
PLAIN = """
    movzbl movzbw movzwl movsbl movsbw movswl cbtw cwtl cwtd cltd bswap bsf bsr
    pusha pushal pushaw popa popal popaw pushf pushfl pushfw popf popfl popfw
    jmp ljmp call lcall ret lret iret iretw int int3 into enter leave
    loop loope loopne loopz loopnz jcxz jecxz
    nop hlt cli sti cld std clc stc cmc lahf sahf xlat aaa aas aam aad daa das
    lds les lfs lgs lss arpl lar lsl sldt str lldt ltr verr verw sgdt sidt lgdt lidt
    smsw lmsw clts invd wbinvd invlpg wait fwait
    """.split()
CONDITIONS = "a ae b be c e g ge l le na nae nb nbe nc ne ng nge nl nle no np ns nz o p pe po s z"
PLAIN += ["j" + c for c in CONDITIONS.split()] + ["set" + c for c in CONDITIONS.split()]
# The 80387: operations with memory forms of several sizes, and the rest.
X87_SIZED = """
    fld fst fstp fild fist fistp fbld fbstp fadd fsub fsubr fmul fdiv fdivr
    fcom fcomp fiadd fisub fisubr fimul fidiv fidivr ficom ficomp
    """.split()
X87 = """
    faddp fsubp fsubrp fmulp fdivp fdivrp fucom fucomp fucompp fcompp fxch fchs fabs ftst
    fxam fld1 fldl2t fldl2e fldpi fldlg2 fldln2 fldz f2xm1 fyl2x fptan fpatan fxtract
    fprem fprem1 fdecstp fincstp fyl2xp1 fsqrt fsincos frndint fscale fsin fcos fnop
    fninit finit fnclex fclex fnstsw fstsw fnstcw fstcw fldcw fnstenv fstenv fldenv
    fnsave fsave frstor ffree
    """.split()
I486 = set(PLAIN) | set(X87)
I486 |= {m + s for m in SUFFIXED for s in ("", "b", "w", "l")}
I486 |= {m + s for m in X87_SIZED for s in ("", "s", "l", "t", "ll")}
# Prefixes objdump prints before the instruction they modify.
PREFIXES = {"rep", "repz", "repnz", "repe", "repne", "lock", "cs", "ds", "es", "ss", "fs", "gs",
            "data16", "data32", "addr16", "addr32"}
# Pentium and later, allowed only in functions that test for them first.
FEATURE_TESTED = {"cpuid", "rdtsc", "cmpxchg8b"}
# Raises the invalid opcode exception by design, on every processor.
TRAP = {"ud2"}
# MMX, SSE, AVX and AVX-512 registers.
LATER_REGISTERS = re.compile(r"%(mm\d|xmm\d+|ymm\d+|zmm\d+|k[0-7])\b")


def read_cpu_list(path=CPU_LIST):
    """{section: {name}} from res/win9x_cpu.txt."""
    sections = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("[") and line.endswith("]"):
                current = sections.setdefault(line[1:-1], set())
            elif current is None:
                raise ValueError("%s:%d: a name before the first section" % (path, number))
            else:
                current.add(line)
    for needed in ("data", "feature-tested"):
        sections.setdefault(needed, set())
    return sections


def judge(mnemonic, operands, function, feature_tested):
    """Why one instruction is unfit for the i486; None when it is fit."""
    if LATER_REGISTERS.search(operands):
        return "uses a register the i486 lacks"
    if mnemonic in FEATURE_TESTED:
        if function in feature_tested:
            return None
        return "needs a Pentium, and %s is not listed as testing for it" % function
    if mnemonic in TRAP:
        return None
    if mnemonic == "nop" and operands:
        return "a long NOP (0F 1F), which needs a Pentium Pro"
    if mnemonic not in I486:
        return "not an i486 instruction"
    return None


INSTRUCTION = re.compile(r"^\s+([0-9a-f]+):\t(.*)$")
SYMBOL = re.compile(r"^([0-9a-f]+) <(.+)>:$")


def disassemble(objdump, program):
    try:
        return subprocess.run([objdump, "-d", "--no-show-raw-insn", program], check=True,
                              capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        raise ValueError("cannot disassemble %s: %s" % (program, e)) from e


def faults(listing, cpu_list):
    """[(function, address, instruction, why)] of one disassembly, and the
    number of instructions judged."""
    found = []
    judged = 0
    function = None
    for line in listing.splitlines():
        m = SYMBOL.match(line)
        if m:
            function = m.group(2)
            continue
        m = INSTRUCTION.match(line)
        if not m or any(fnmatch.fnmatchcase(function or "", data) for data in cpu_list["data"]):
            continue
        text = m.group(2).strip()
        words = text.split(None, 1)
        while words and words[0] in PREFIXES:
            words = words[1].split(None, 1) if len(words) > 1 else []
        if not words:
            continue
        mnemonic, operands = words[0], (words[1] if len(words) > 1 else "")
        judged += 1
        why = judge(mnemonic, operands, function, cpu_list["feature-tested"])
        if why:
            found.append((function, m.group(1), text, why))
    return found, judged


def code_sections(path):
    """{name: bytes} of the executable sections of a PE file, and whether it
    has a symbol table."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("%s is not a PE file" % path)
    count = struct.unpack_from("<H", data, pe + 6)[0]
    symbols = struct.unpack_from("<I", data, pe + 12)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    sections = {}
    for i in range(count):
        header = table + 40 * i
        name = data[header:header + 8].rstrip(b"\0").decode("latin-1")
        raw_size, raw_offset = struct.unpack_from("<II", data, header + 16)
        flags = struct.unpack_from("<I", data, header + 36)[0]
        if flags & 0x20000020:  # contains code, or may be executed
            sections[name] = data[raw_offset:raw_offset + raw_size]
    return sections, symbols != 0


def programs_in(folder, excluded):
    found = []
    for root, dirs, files in os.walk(folder):
        dirs[:] = sorted(d for d in dirs if d != "CMakeFiles")
        for name in sorted(files):
            if name.endswith(".exe") and name not in excluded:
                found.append(os.path.join(root, name))
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--exclude", action="append", default=[])
    ap.add_argument("--expect", action="append", default=[])
    ap.add_argument("paths", nargs="+")
    args = ap.parse_args()
    cpu_list = read_cpu_list()

    programs = []
    for path in args.paths:
        programs += programs_in(path, set(args.exclude)) if os.path.isdir(path) else [path]
    missing = set(args.expect) - {os.path.basename(p) for p in programs}
    if not programs or missing:
        print("win9x_instructions: %s not found in %s" % (" ".join(sorted(missing)) or "no programs",
                                                          " ".join(args.paths)), file=sys.stderr)
        return 2

    judged_by_copy = {p[:-len(".unstripped.exe")] + ".exe" for p in programs
                      if p.endswith(".unstripped.exe")}
    unfit = 0
    try:
        for program in programs:
            if program in judged_by_copy:
                copy = program[:-len(".exe")] + ".unstripped.exe"
                shipped, _ = code_sections(program)
                if shipped != code_sections(copy)[0]:
                    print("%s: its code differs from %s, which was judged in its place"
                          % (program, copy))
                    unfit += 1
                else:
                    print("%s: code identical to %s" % (program, copy))
                continue
            if not code_sections(program)[1]:
                raise ValueError("%s has no symbols and no unstripped copy beside it" % program)
            found, judged = faults(disassemble(args.objdump, program), cpu_list)
            for function, address, text, why in found:
                print("  %s: %s <%s>: %s -- %s" % (os.path.basename(program), address, function,
                                                  text, why))
            functions = len({f for f, _, _, _ in found})
            print("%s: %d instructions, %d beyond the i486 in %d functions"
                  % (program, judged, len(found), functions))
            if found:
                unfit += 1
    except ValueError as e:
        print("win9x_instructions: %s" % e, file=sys.stderr)
        return 2
    if unfit:
        print("NOT FIT for the i486: %d of %d programs" % (unfit, len(programs)))
        return 1
    print("fit: every instruction of %d programs is one the i486 has" % len(programs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
