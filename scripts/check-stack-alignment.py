#!/usr/bin/env python3
"""Fails when a function of a 32-bit x86 image makes an aligned vector access to its stack
(relative to %esp or %ebp) that it has not made aligned itself. Windows hosts promise only
4-byte stack alignment, and qemu-i386 does not fault where real processors do.

Reads `objdump -d` of the image (symbols needed: a stripped image is one function). For every
function it follows %esp and %ebp through the function's jumps, from the 4-byte alignment of the
entry, as (alignment, residue) pairs: `and $-N,%esp` makes %esp N-aligned; push, pop, sub, add,
lea, leave and calls move it (by what the callee's `ret $N` pops, thiscall and stdcall, or the N
of an import's `name@N`; a call through a register keeps only 4-byte alignment); `mov %esp,%ebp`
copies it; any other write forgets. Where paths meet, the pair keeps what both agree on. An
aligned access (movaps, movapd, movdqa, their VEX and EVEX forms, and legacy SSE instructions
with a packed memory operand) of width W passes only where base + displacement is proven
W-aligned; an index register, or an instruction no path reaches, is never proven.
Stack addresses copied to other registers are not followed.
Usage: check-stack-alignment.py OBJDUMP IMAGE
"""
import re
import subprocess
import sys

UNKNOWN = (1, 0)
ENTRY_ESP = (4, 0)  # the return address sits at a 4-byte-aligned address

FUNCTION = re.compile(r'^([0-9a-f]+) <(.+)>:$')
INSTRUCTION = re.compile(r'^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$')
JUMP_TARGET = re.compile(r'^([0-9a-f]+) <')
# disp(base,index,scale): groups displacement, base register, index register.
MEMORY = re.compile(r'(?:^|,)(-?0x[0-9a-f]+|-?[0-9]+)?\((%e[a-z][a-z])?'
                    r'(?:,(%e[a-z][a-z]),[0-9])?\)')
REGISTER = re.compile(r'%([a-z0-9]+)')
STDCALL_POP = re.compile(r'@([0-9]+)>')
PREFIXES = {'rep', 'repz', 'repnz', 'repe', 'repne', 'lock', 'bnd', 'notrack', 'data16'}
ALIGN_MASK = {-16: 16, -32: 32, -64: 64}  # and $0xfffffff0,%esp reads as -16

# Aligned moves: they fault on a misaligned address at any width.
ALIGNED_MOVES = {'movaps', 'movapd', 'movdqa', 'movntps', 'movntpd', 'movntdq', 'movntdqa',
                 'vmovaps', 'vmovapd', 'vmovdqa', 'vmovdqa32', 'vmovdqa64', 'vmovntps',
                 'vmovntpd', 'vmovntdq', 'vmovntdqa'}
# Legacy SSE instructions whose memory operand need not be 16-byte aligned: unaligned moves,
# scalar and half-register operands, and the 32- and 64-bit loads of conversions, inserts and
# extracts. Every other non-VEX instruction on an %xmm register with a memory operand requires
# 16-byte alignment.
UNALIGNED_LEGACY = re.compile(
    r'^(movups|movupd|movdqu|lddqu|movss|movsd|movlps|movhps|movlpd|movhpd|movq|movd|'
    r'movddup|movsldup|movshdup|cvtps2pd|cvtdq2pd|cvtpi2p[sd]|cvtt?p[sd]2pi|'
    r'cvtt?s[sd]2si|cvtsi2s[sd]l?|cvts[sd]2s[sd]|u?comis[sd]|pinsr[bwdq]|pextr[bwdq]|'
    r'extractps|insertps|pmov[sz]x[a-z]+|maskmovdqu|stmxcsr|ldmxcsr|prefetch[a-z0-9]*|'
    r'(?!p)[a-z]+s[sd])$')


def width(mnemonic, operands):
    """Bytes of alignment the instruction needs for a memory operand, 0 if none."""
    registers = REGISTER.findall(operands)
    if mnemonic in ALIGNED_MOVES:
        if any(r.startswith('zmm') for r in registers):
            return 64
        if any(r.startswith('ymm') for r in registers):
            return 32
        return 16
    if mnemonic.startswith('v') or not any(r.startswith('xmm') for r in registers):
        return 0  # VEX and EVEX arithmetic take any address; MMX and x87 are not checked
    return 0 if UNALIGNED_LEGACY.match(mnemonic) else 16


def meet(a, b):
    """The largest alignment on which both (alignment, residue) pairs agree."""
    n = min(a[0], b[0])
    while n > 1 and a[1] % n != b[1] % n:
        n //= 2
    return (n, a[1] % n)


def moved(pair, delta):
    return (pair[0], (pair[1] + delta) % pair[0])


def immediate(text):
    value = int(text.lstrip('$'), 0)
    return value - (1 << 32) if value >= 1 << 31 else value


def popped(operands, pops):
    """Bytes a call's callee pops: its own `ret $N` where it is in the image, else the N of an
    import's `name@N`; None where neither tells (calls through registers)."""
    target = JUMP_TARGET.match(operands)
    if target and int(target.group(1), 16) in pops:
        return pops[int(target.group(1), 16)]
    pop = STDCALL_POP.search(operands)
    return int(pop.group(1)) if pop else None


def calleePops(bodies):
    """{address: bytes popped} of every function whose returns all pop the same amount."""
    pops = {}
    for body in bodies:
        amounts = {immediate(o) if o else 0 for _, m, o in body if m.startswith('ret')}
        if body and len(amounts) == 1:
            pops[body[0][0]] = amounts.pop()
    return pops


def step(state, mnemonic, operands, pops):
    """The state after one instruction: {'esp': pair, 'ebp': pair, 'const': {reg: value}}."""
    esp, ebp, const = state['esp'], state['ebp'], dict(state['const'])
    ops = operands.split(' <')[0].split('#')[0].strip()
    args = [a for a in re.split(r',(?![^(]*\))', ops) if a] if ops else []
    dest = args[-1] if args else ''
    base = mnemonic.rstrip('lw') if mnemonic not in ('call', 'calll') else 'call'
    if mnemonic in ('pushw', 'popw'):
        esp = UNKNOWN
    elif base in ('push', 'pushf'):
        esp = moved(esp, -4)
    elif base in ('pop', 'popf'):
        esp = moved(esp, 4)
        if dest == '%ebp':
            ebp = UNKNOWN
    elif mnemonic == 'leave':
        esp, ebp = moved(ebp, 4), UNKNOWN
    elif mnemonic.startswith('call'):
        pop = popped(operands, pops)
        esp = moved(esp, pop) if pop is not None else meet(esp, (4, esp[1]))
    elif dest == '%esp':
        src = args[0] if len(args) == 2 else ''
        if base == 'and' and src.startswith('$') and immediate(src) in ALIGN_MASK:
            n = ALIGN_MASK[immediate(src)]
            esp = (n, 0) if n >= esp[0] else (esp[0], esp[1] - esp[1] % n)
        elif base in ('sub', 'add') and src.startswith('$'):
            esp = moved(esp, immediate(src) * (-1 if base == 'sub' else 1))
        elif base in ('sub', 'add') and src in const:
            esp = moved(esp, const[src] * (-1 if base == 'sub' else 1))
        elif base == 'mov' and src == '%ebp':
            esp = ebp
        elif base == 'lea':
            m = MEMORY.match(src)
            disp = int(m.group(1), 0) if m and m.group(1) else 0
            esp = (moved(esp, disp) if m and m.group(2) == '%esp' and not m.group(3) else
                   moved(ebp, disp) if m and m.group(2) == '%ebp' and not m.group(3) else UNKNOWN)
        else:
            esp = UNKNOWN
    elif dest == '%ebp' and not mnemonic.startswith(('cmp', 'test', 'bt')):
        src = args[0] if len(args) == 2 else ''
        m = MEMORY.match(src) if base == 'lea' else None
        if base == 'mov' and src == '%esp':
            ebp = esp
        elif m and m.group(2) == '%esp' and not m.group(3):
            ebp = moved(esp, int(m.group(1), 0) if m.group(1) else 0)
        else:
            ebp = UNKNOWN
    # Constants feed only the frame allocation of a prologue (`mov $size,%eax`, the stack
    # probe, which preserves every register, `sub %eax,%esp`): anything but pushes, the probe
    # and moves of %esp forgets them.
    keeps = base == 'push' or 'chkstk_ms>' in operands or dest == '%esp' or \
        (base == 'mov' and args == ['%esp', '%ebp'])
    if not keeps:
        const = {}
    if base == 'mov' and len(args) == 2 and args[0].startswith('$') and \
            re.fullmatch(r'%e[a-z][a-z]', dest):
        const[dest] = immediate(args[0])
    return {'esp': esp, 'ebp': ebp, 'const': const}


def merge(a, b):
    if a is None:
        return b
    const = {r: v for r, v in a['const'].items() if b['const'].get(r) == v}
    return {'esp': meet(a['esp'], b['esp']), 'ebp': meet(a['ebp'], b['ebp']), 'const': const}


def analyse(instructions, pops):
    """Accesses of one function: (address, text, alignment needed, proven) for each."""
    index = {addr: i for i, (addr, _, _) in enumerate(instructions)}
    states = [None] * len(instructions)
    if instructions:
        states[0] = {'esp': ENTRY_ESP, 'ebp': UNKNOWN, 'const': {}}
    work = [0] if instructions else []
    while work:
        i = work.pop()
        _, mnemonic, operands = instructions[i]
        if mnemonic in PREFIXES and operands:
            mnemonic, _, operands = operands.partition(' ')
            operands = operands.strip()
        after = step(states[i], mnemonic, operands, pops)
        successors = []
        if mnemonic.startswith('j'):
            target = JUMP_TARGET.match(operands)
            if target and int(target.group(1), 16) in index:
                successors.append(index[int(target.group(1), 16)])
        if not (mnemonic.startswith(('jmp', 'ret')) or mnemonic in ('ud2', 'int3', 'hlt')) \
                and i + 1 < len(instructions):
            successors.append(i + 1)
        for s in successors:
            merged = merge(states[s], after)
            if merged != states[s]:
                states[s] = merged
                work.append(s)
    accesses = []
    for (addr, mnemonic, operands), state in zip(instructions, states):
        for m in MEMORY.finditer(operands.split(' <')[0]):
            if m.group(2) not in ('%esp', '%ebp'):
                continue
            need = width(mnemonic, operands)
            if need == 0:
                continue
            disp = int(m.group(1), 0) if m.group(1) else 0
            pair = None if state is None else state[m.group(2)[1:]]
            proven = (pair is not None and not m.group(3) and pair[0] >= need and
                      (pair[1] + disp) % need == 0)
            accesses.append((addr, f'{mnemonic} {operands}', need, proven))
    return accesses


def functions(dump):
    name, body = None, []
    for line in dump.splitlines():
        f = FUNCTION.match(line)
        if f:
            if name:
                yield name, body
            name, body = f.group(2), []
            continue
        i = INSTRUCTION.match(line)
        if i and name:
            body.append((int(i.group(1), 16), i.group(2), i.group(3)))
    if name:
        yield name, body


def realignment(instructions):
    for _, mnemonic, operands in instructions:
        if mnemonic.startswith('and') and operands.endswith(',%esp'):
            return f'{mnemonic} {operands}'
    return 'no realignment'


def main():
    objdump, image = sys.argv[1], sys.argv[2]
    dump = subprocess.run([objdump, '-d', '-C', '--no-show-raw-insn', image], check=True,
                          capture_output=True, text=True).stdout
    seen, failed = 0, 0
    bodies = list(functions(dump))
    pops = calleePops(body for _, body in bodies)
    for name, body in bodies:
        accesses = analyse(body, pops)
        if not accesses:
            continue
        seen += 1
        bad = [a for a in accesses if not a[3]]
        print(f'    {body[0][0]:08x} {name}: {len(accesses)} accesses, {realignment(body)}'
              + (f', {len(bad)} not proven aligned' if bad else ''))
        for addr, text, need, _ in bad[:5]:
            print(f'        {addr:08x}: {text} (needs {need}-byte alignment)')
        failed += 1 if bad else 0
    print(f'{seen} functions make aligned vector accesses to the stack, {failed} without proof')
    if failed:
        print(f'FAIL: {failed} functions may access misaligned stack slots on a 4-byte-aligned '
              'stack')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
