"""The ORMELIX program as the provider runs it: where it is, what its --help offers, its
command line from a run's values, and its progress lines read while it runs.

Nothing here imports QGIS: the algorithm turns its parameters into a RunValues, and this
module turns that into a process."""

import glob
import json
import os
import queue
import shlex
import shutil
import subprocess
import threading
import time
from dataclasses import dataclass, field
from typing import List, Optional, Tuple, Union

BINARY_VARIABLE = 'ORMELIX_BINARY'
PROGRAM_NAME = 'ormelix'

# The endings of the files the program reads and writes itself (in either case).
INPUT_ENDINGS = ('.asc', '.tif', '.tiff', '_m2.raw', '_m4.raw')
ERROR_GRID_ENDINGS = ('.asc', '.tif', '.tiff')
OUTPUT_ENDINGS = ('.asc', '.tif', '.tiff')

KINDS = ('absolute', 'negative', 'positive', 'signed')
UNITS = ('m', 'dm', 'cm', 'mm')
COREGISTRATIONS = ('shift', 'vertical', 'tilt')


class ProgramError(Exception):
    """The program cannot be found, or ended without its result; the message says why."""


def find_program(setting: str = '') -> str:
    """The program's file: the provider's setting, else $ORMELIX_BINARY, else ormelix
    (ormelix.exe) on PATH."""
    for named, where in ((setting, "the provider's setting"),
                         (os.environ.get(BINARY_VARIABLE, ''), 'the environment variable ' + BINARY_VARIABLE)):
        if not named:
            continue
        if os.path.isfile(named) and os.access(named, os.X_OK):
            return named
        raise ProgramError('{} names {}, which is not an executable file: name the ORMELIX program '
                           '(build/ormelix in its build folder).'.format(where, named))
    found = shutil.which(PROGRAM_NAME)
    if found is None:
        raise ProgramError('The ORMELIX program is not on PATH: name its file in Processing\'s options '
                           '(Providers > ORMELIX) or in the environment variable {}.'.format(BINARY_VARIABLE))
    return found


_offers_cache = {}


def program_offers(program: str) -> dict:
    """What the program's --help lists of the options that not every version has:
    coregistration, the stable-slope error model, GDAL's rasters. All False when it does not
    run."""
    try:
        key = (program, os.path.getmtime(program))
    except OSError:
        key = None
    if key is not None and key in _offers_cache:
        return _offers_cache[key]
    try:
        shown = subprocess.run([program, '--help'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL, timeout=30, check=False,
                               creationflags=_NO_WINDOW).stdout.decode('utf-8', 'replace')
    except (OSError, subprocess.SubprocessError):
        shown = ''
    offers = {'coregister': '--coregister' in shown,
              'stable_slope': 'stable-slope' in shown,
              'gdal': '--gdal' in shown}
    if key is not None:
        _offers_cache[key] = offers
    return offers


def has_ending(path: str, endings) -> bool:
    return path.lower().endswith(tuple(endings))


def output_stem(output: str) -> str:
    """OUTPUT without its ending: the budget, the report and the class budget go beside it."""
    for ending in OUTPUT_ENDINGS + ('_m2.raw', '_m4.raw'):
        if output.lower().endswith(ending):
            return output[:-len(ending)]
    return output


# A σ: metres, or the path of an error grid on its DEM's cells.
Sigma = Union[float, str]


@dataclass
class RunValues:
    """A run of the program, as the command line takes it."""
    first: str
    second: str
    output: str
    kind: str = 'signed'
    # The unit of a raster pair's integers.
    first_unit: str = 'm'
    second_unit: str = 'm'
    limit: Optional[float] = None
    confidence: Optional[float] = None
    # With a confidence level: each DEM's σ, or the error model 'stable' / 'stable-slope'.
    sigma: Union[None, str, Tuple[Sigma, Sigma]] = None
    classes: str = ''
    stable: str = ''
    coregister: str = ''
    report: bool = True

    def arguments(self, program: str) -> List[str]:
        args = [program, self.first, self.second, self.output, '--kind', self.kind]
        for option, unit in (('--first-unit', self.first_unit), ('--second-unit', self.second_unit)):
            if unit != 'm':
                args += [option, unit]
        if self.limit is not None:
            args += ['--limit', repr(float(self.limit))]
        if self.confidence is not None:
            if isinstance(self.sigma, tuple):
                args += ['--sigma'] + [s if isinstance(s, str) else repr(float(s)) for s in self.sigma]
            else:
                args += ['--sigma', self.sigma]
            args += ['--confidence', repr(float(self.confidence))]
        if self.classes:
            args += ['--classes', self.classes]
        if self.stable:
            args += ['--stable', self.stable]
        if self.coregister:
            args += ['--coregister', self.coregister]
        if not self.report:
            args.append('--no-report')
        return args + ['--json', '--progress-lines']

    def grids_read(self) -> int:
        """The grids the program reads, each a phase of its progress."""
        sigma_grids = sum(1 for s in self.sigma if isinstance(s, str)) if isinstance(self.sigma, tuple) else 0
        return 2 + bool(self.classes) + bool(self.stable) + sigma_grids

    def outputs(self) -> dict:
        stem = output_stem(self.output)
        return {'output': self.output,
                'budget': stem + '_budget.csv',
                'report': stem + '_report.html' if self.report else '',
                'classes': stem + '_classes.csv' if self.classes else ''}


def progress_of_line(line: str) -> Optional[Tuple[int, str]]:
    """A line 'progress: PERCENT PHASE' as (PERCENT, PHASE); None for any other line."""
    if not line.startswith('progress: '):
        return None
    percent, _, phase = line[len('progress: '):].partition(' ')
    try:
        return int(percent), phase
    except ValueError:
        return None


class OverallProgress:
    """The progress of the whole run from its phases': each phase an equal share of the
    phases expected (the grids read, the difference, the writing), more when more come."""

    def __init__(self, phases_expected: int):
        self.expected = max(1, phases_expected)
        self.phases = 0
        self.shown = 0.0

    def step(self, percent: int, phase_is_new: bool) -> float:
        if phase_is_new:
            self.phases += 1
            self.expected = max(self.expected, self.phases)
        done = (self.phases - 1 + min(max(percent, 0), 100) / 100.0) / self.expected * 100.0
        self.shown = max(self.shown, min(done, 100.0))
        return self.shown


@dataclass
class RunResult:
    status: int
    budget: dict = field(default_factory=dict)
    messages: List[str] = field(default_factory=list)


_NO_WINDOW = getattr(subprocess, 'CREATE_NO_WINDOW', 0)


def command_text(args: List[str]) -> str:
    return ' '.join(shlex.quote(a) for a in args)


def run_program(values: RunValues, program: str, on_progress, on_message, canceled) -> Optional[RunResult]:
    """Runs the program on the values. on_progress(overall percent, phase, phase is new) for
    each progress line, on_message(line) for every other line of standard error; canceled()
    is asked between lines and every tenth of a second: when it says so, the process is
    killed, its unfinished files removed, and None returned."""
    started = time.time()
    process = subprocess.Popen(values.arguments(program), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, creationflags=_NO_WINDOW)
    lines = queue.Queue()
    answer = []

    def read_errors():
        for raw in process.stderr:
            lines.put(raw.decode('utf-8', 'replace').rstrip('\r\n'))
        lines.put(None)

    def read_answer():
        answer.append(process.stdout.read())

    readers = [threading.Thread(target=read_errors, daemon=True), threading.Thread(target=read_answer, daemon=True)]
    for reader in readers:
        reader.start()
    overall = OverallProgress(values.grids_read() + 2)
    phase, last = None, -1
    messages = []
    while True:
        if canceled():
            process.kill()
            process.wait()
            finish(process, readers)
            remove_unfinished(values, started)
            return None
        try:
            line = lines.get(timeout=0.1)
        except queue.Empty:
            continue
        if line is None:
            break
        progress = progress_of_line(line)
        if progress is None:
            messages.append(line)
            on_message(line)
            continue
        percent, named = progress
        # Within a phase the percentages rise: one that does not starts a phase of the same name.
        new = named != phase or percent <= last
        phase, last = named, percent
        on_progress(overall.step(percent, new), named, new)
    status = process.wait()
    finish(process, readers)
    text = answer[0].decode('utf-8', 'replace') if answer else ''
    budget = {}
    if status == 0 and text.strip():
        budget = json.loads(text)
    return RunResult(status, budget, messages)


def finish(process, readers):
    for reader in readers:
        reader.join()
    process.stdout.close()
    process.stderr.close()


def remove_unfinished(values: RunValues, started: float):
    """The files a killed run was writing: each output's name followed by .part-XXXXXX, beside it."""
    finals = [path for path in values.outputs().values() if path] + [output_stem(values.output) + '.prj']
    for final in finals:
        for part in glob.glob(glob.escape(final) + '.part-*'):
            try:
                if os.path.getmtime(part) >= started - 1.0:
                    os.remove(part)
            except OSError:
                pass
