"""The QGIS provider run by QGIS itself, headless: the algorithm through Processing's
registry and through qgis_process (the plugin enabled from the repository's folder) on real
DEMs, its files byte for byte those of the command line given the same options, its
progress in QGIS's feedback, a cancelled run, the program's refusals, where the program is
found.

Usage: python3 tests/qgis_provider_test.py PATH/TO/ormelix   (Debian's python3-qgis)"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARY = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.environ.get('ORMELIX_BINARY', '')
SCRATCH = tempfile.mkdtemp(prefix='ormelix-qgis-')
# QGIS keeps its profile (the enabled plugins) under HOME: one of the test's own.
os.environ.update(HOME=os.path.join(SCRATCH, 'home'), QT_QPA_PLATFORM='offscreen', ORMELIX_BINARY=BINARY)
sys.path[:0] = [os.path.join(SOURCE, 'qgis'), '/usr/share/qgis/python/plugins']

from qgis.core import QgsApplication, QgsProcessingException, QgsProcessingFeedback  # noqa: E402
from ormelix_provider.algorithm import BUDGET_NUMBERS  # noqa: E402

APP = QgsApplication([], False)
APP.initQgis()
from processing.core.Processing import Processing  # noqa: E402

Processing.initialize()
import processing  # noqa: E402
import ormelix_provider  # noqa: E402
from ormelix_provider import program  # noqa: E402

PLUGIN = ormelix_provider.classFactory(None)
PLUGIN.initProcessing()

# EHdr headers that let GDAL, and so QGIS, load a 16-bit raster pair as a layer.
HEADERS = {'slope_2024_m2.hdr': (200, 300), 'dem_stable_m2.hdr': (41, 41)}


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def phases_of(errors):
    """The phases of --progress-lines, in order."""
    phases, last = [], None
    for line in errors.splitlines():
        progress = program.progress_of_line(line)
        if progress and (progress[0] == 0 or progress[1] != last):
            phases.append(progress[1])
            last = progress[1]
    return phases


class Feedback(QgsProcessingFeedback):
    """What the algorithm tells QGIS; cancels at the start of the phase cancel_at names."""

    def __init__(self, cancel_at=None):
        super().__init__()
        self.progress, self.phases, self.cancel_at = [], [], cancel_at
        self.progressChanged.connect(self.progress.append)

    def setProgressText(self, text):
        self.phases.append(text)
        if self.cancel_at and text.startswith(self.cancel_at):
            self.cancel()


class Provider(unittest.TestCase):

    def setUp(self):
        self.folder = tempfile.mkdtemp(dir=SCRATCH)
        for name in ('demo/images/demo/slope_2019.asc', 'demo/images/demo/slope_2024_m2.raw',
                     'demo/images/demo/slope_2024_m2.txt', 'tests/data/geotiff/dem_2015.tif',
                     'tests/data/geotiff/dem_2020.tif', 'tests/data/geotiff/dem_classes.tif',
                     'tests/data/geotiff/dem_stable_m2.raw', 'tests/data/geotiff/dem_stable_m2.txt',
                     'tests/data/confidence/err_2015.tif'):
            shutil.copy(os.path.join(SOURCE, name), self.folder)
        # A form the program does not read itself (Erdas Imagine).
        from osgeo import gdal
        gdal.Translate(self.at('dem_2020.img'), self.at('dem_2020.tif'), format='HFA')
        for name, (lines, columns) in HEADERS.items():
            with open(self.at(name), 'w') as f:
                f.write('NROWS {}\nNCOLS {}\nNBANDS 1\nNBITS 16\nPIXELTYPE UNSIGNEDINT\nBYTEORDER I\n'
                        'LAYOUT BIL\n'.format(lines, columns))

    def at(self, name):
        return os.path.join(self.folder, name)

    def given(self, parameters):
        return {key: self.at(value) if isinstance(value, str) else value for key, value in parameters.items()}

    def paths(self, arguments):
        return [self.at(a) if a.endswith(('.asc', '.tif', '.raw')) else a for a in arguments]

    def command_line(self, arguments):
        return subprocess.run([BINARY] + arguments + ['--progress-lines'], cwd=self.folder,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)

    # The demo's session, the real epochs with every option that takes a grid, a form the
    # program reads through a copy, and the demo through qgis_process: the provider's files
    # are the command line's.
    SESSIONS = [
        ('demo', {'FIRST': 'slope_2019.asc', 'SECOND': 'slope_2024_m2.raw', 'SECOND_UNIT': 2, 'KIND': 0,
                  'LIMIT': 0.25, 'OUTPUT': 'qgis.asc'},
         ['slope_2019.asc', 'slope_2024_m2.raw', 'cl.asc', '--second-unit', 'cm', '--kind', 'absolute',
          '--limit', '0.25']),
        ('grids', {'FIRST': 'dem_2015.tif', 'SECOND': 'dem_2020.tif', 'CONFIDENCE': 90,
                   'SIGMA1_GRID': 'err_2015.tif', 'SIGMA2': 0.15, 'CLASSES': 'dem_classes.tif',
                   'STABLE': 'dem_stable_m2.raw', 'OUTPUT': 'qgis.tif'},
         ['dem_2015.tif', 'dem_2020.tif', 'cl.tif', '--sigma', 'err_2015.tif', '0.15', '--confidence', '90',
          '--classes', 'dem_classes.tif', '--stable', 'dem_stable_m2.raw']),
        ('copy', {'FIRST': 'dem_2015.tif', 'SECOND': 'dem_2020.img', 'KIND': 1, 'OUTPUT': 'qgis.tif'},
         ['dem_2015.tif', 'dem_2020.tif', 'cl.tif', '--kind', 'negative']),
    ]

    def check_like_the_command_line(self, results, arguments, feedback=None):
        line = self.command_line(arguments)
        self.assertEqual(line.returncode, 0, line.stderr)
        ending = os.path.splitext(arguments[2])[1]
        for mine, theirs in (('qgis' + ending, 'cl' + ending), ('qgis_budget.csv', 'cl_budget.csv'),
                             ('qgis_classes.csv', 'cl_classes.csv')):
            if os.path.exists(self.at(theirs)):
                self.assertEqual(read(self.at(mine)), read(self.at(theirs)), mine)
        self.assertEqual(results['OUTPUT'], self.at('qgis' + ending))
        self.assertEqual(results['BUDGET_CSV'], self.at('qgis_budget.csv'))
        self.assertIn(b'<html', read(results['REPORT_HTML']))
        self.assertEqual(results['CLASSES_CSV'], self.at('qgis_classes.csv') if '--classes' in arguments else None)
        # The budget's numbers are the file's.
        names, values = read(self.at('cl_budget.csv')).decode().splitlines()
        # (the columns the provider names; the whole budget, later columns too, in the JSON)
        for name, value in zip(names.split(','), values.split(',')):
            if name in BUDGET_NUMBERS:
                self.assertEqual(results[name], float(value) if value else None, name)
        self.assertEqual(json.loads(results['BUDGET_JSON']), json.loads(
            self.command_line(arguments + ['--json']).stdout))
        if feedback is not None:
            self.assertEqual(feedback.phases, [phase.replace('cl' + ending, 'qgis' + ending)
                                               for phase in phases_of(line.stderr)])
            self.assertEqual(feedback.progress, sorted(feedback.progress))
            self.assertEqual(feedback.progress[-1], 100)

    def test_sessions_give_the_command_lines_files(self):
        for name, parameters, arguments in self.SESSIONS:
            with self.subTest(name):
                self.setUp()
                feedback = Feedback()
                results = processing.run('ormelix:difference', self.given(parameters), feedback=feedback)
                self.check_like_the_command_line(results, self.paths(arguments),
                                                 feedback if name != 'copy' else None)
        # qgis_process, the plugin enabled from the repository's folder.
        name, parameters, arguments = self.SESSIONS[0]
        self.setUp()
        environment = dict(os.environ, QGIS_PLUGINPATH=os.path.join(SOURCE, 'qgis'))
        qgis_process = ['/usr/bin/qgis_process.bin']
        subprocess.run(qgis_process + ['plugins', 'enable', 'ormelix_provider'], env=environment, check=True,
                       stdout=subprocess.DEVNULL)
        ran = subprocess.run(qgis_process + ['--json', 'run', 'ormelix:difference', '--'] +
                             ['{}={}'.format(*item) for item in self.given(parameters).items()],
                             env=environment, cwd=self.folder, stdout=subprocess.PIPE, universal_newlines=True)
        self.assertEqual(ran.returncode, 0, ran.stdout)
        self.check_like_the_command_line(json.loads(ran.stdout)['results'], self.paths(arguments))

    def test_a_cancelled_run_leaves_no_file(self):
        # Grids large enough that the writing lasts: the run is killed in it.
        from osgeo import gdal
        import numpy
        for name, lift in (('big_a.tif', 0.0), ('big_b.tif', 0.5)):
            grid = gdal.GetDriverByName('GTiff').Create(self.at(name), 3000, 3000, 1, gdal.GDT_Float32)
            grid.SetGeoTransform((500000, 1, 0, 5000000, 0, -1))
            grid.GetRasterBand(1).WriteArray(numpy.add.outer(numpy.arange(3000.0), numpy.arange(3000.0)) + lift)
            grid = None
        feedback = Feedback(cancel_at='writing')
        with self.assertRaises(QgsProcessingException):
            processing.run('ormelix:difference', {'FIRST': self.at('big_a.tif'), 'SECOND': self.at('big_b.tif'),
                                                  'OUTPUT': self.at('out.asc')}, feedback=feedback)
        self.assertEqual(feedback.phases[-1], 'writing ' + self.at('out.asc'))
        self.assertEqual([name for name in os.listdir(self.folder) if name.startswith('out')], [])

    def test_the_programs_refusal_is_the_error(self):
        # The class raster is not on the first DEM's cells: the program's own message, no file.
        with self.assertRaisesRegex(QgsProcessingException, 'does not lie on the cells of the first DEM'):
            processing.run('ormelix:difference', {'FIRST': self.at('slope_2019.asc'),
                                                  'SECOND': self.at('slope_2024_m2.raw'),
                                                  'CLASSES': self.at('dem_classes.tif'),
                                                  'OUTPUT': self.at('out.tif')}, feedback=Feedback())
        self.assertEqual([name for name in os.listdir(self.folder) if name.startswith('out')], [])

    def test_options_offered_by_the_programs_help(self):
        # A program whose --help lists coregistration and the stable-slope model, and that
        # notes its arguments and refuses them as a usage error.
        offering = self.at('offering')
        with open(offering, 'w') as f:
            f.write('#!/bin/sh\nif [ "$1" = --help ]; then "{0}" --help\n'
                    'echo "  --coregister shift|vertical|tilt"\n'
                    'echo "  --sigma S1 S2|stable|stable-slope"; exit 0; fi\n'
                    'echo "$@" > "{1}.arguments"; echo "ormelix: refused" >&2; exit 2\n'.format(BINARY, offering))
        os.chmod(offering, 0o755)
        registry = QgsApplication.processingRegistry()
        try:
            # The program itself now offers both.
            for binary, offered in ((BINARY, True), (offering, True)):
                os.environ['ORMELIX_BINARY'] = binary
                algorithm = registry.createAlgorithmById('ormelix:difference')
                self.assertEqual(algorithm.parameterDefinition('COREGISTER') is not None, offered)
                self.assertEqual(len(algorithm.parameterDefinition('ERRORS').options()), 3 if offered else 2)
            with self.assertRaisesRegex(QgsProcessingException, 'refused'):
                processing.run('ormelix:difference', {
                    'FIRST': self.at('dem_2015.tif'), 'SECOND': self.at('dem_2020.tif'), 'COREGISTER': 3,
                    'CONFIDENCE': 95, 'ERRORS': 2, 'STABLE': self.at('dem_classes.tif'), 'OUTPUT': self.at('out.tif')})
        finally:
            os.environ['ORMELIX_BINARY'] = BINARY
        noted = read(offering + '.arguments').decode().split()
        self.assertIn('--coregister tilt', ' '.join(noted))
        self.assertIn('--sigma stable-slope', ' '.join(noted))

    def test_where_the_program_is_found(self):
        bin_folder = os.path.join(self.folder, 'bin')
        os.mkdir(bin_folder)
        on_path = os.path.join(bin_folder, 'ormelix')
        shutil.copy(BINARY, on_path)
        cases = [  # setting, environment, PATH, found (or the start of the error)
            (BINARY, 'x', bin_folder, BINARY),
            ('', BINARY, bin_folder, BINARY),
            ('', '', bin_folder, on_path),
            ('', '', self.folder, 'The ORMELIX program is not on PATH'),
            (self.at('slope_2019.asc'), BINARY, bin_folder, "the provider's setting names"),
        ]
        from processing.core.ProcessingConfig import ProcessingConfig
        kept = dict(os.environ)
        try:
            for setting, variable, path, found in cases:
                os.environ.update(ORMELIX_BINARY=variable, PATH=path)
                try:
                    self.assertEqual(program.find_program(setting), found)
                except program.ProgramError as error:
                    self.assertTrue(str(error).startswith(found), str(error))
            # The algorithm takes the setting of Processing's options.
            os.environ.update(ORMELIX_BINARY='', PATH=self.folder)
            run = lambda: processing.run('ormelix:difference', {'FIRST': self.at('dem_2015.tif'),
                                                                'SECOND': self.at('dem_2020.tif'),
                                                                'OUTPUT': self.at('out.tif')})
            with self.assertRaisesRegex(QgsProcessingException, 'not on PATH'):
                run()
            ProcessingConfig.setSettingValue('ORMELIX_BINARY', on_path)
            self.assertEqual(run()['net_volume_m3'], json.loads(self.command_line(
                ['dem_2015.tif', 'dem_2020.tif', 'cl.tif', '--json']).stdout)['net_volume_m3'])
        finally:
            ProcessingConfig.setSettingValue('ORMELIX_BINARY', '')
            os.environ.clear()
            os.environ.update(kept)


if __name__ == '__main__':
    try:
        unittest.main(verbosity=2)
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)
