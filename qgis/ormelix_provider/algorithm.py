"""The algorithm "Difference of two DEMs": the command line's options as Processing
parameters, the program run with its progress in QGIS's feedback, its outputs returned."""

import json
import os

from qgis.core import (QgsProcessingAlgorithm, QgsProcessingException,
                       QgsProcessingOutputFile, QgsProcessingOutputHtml, QgsProcessingOutputNumber,
                       QgsProcessingOutputString, QgsProcessingParameterBoolean, QgsProcessingParameterDefinition,
                       QgsProcessingParameterEnum, QgsProcessingParameterNumber,
                       QgsProcessingParameterRasterDestination, QgsProcessingParameterRasterLayer,
                       QgsProcessingUtils)
from qgis.PyQt.QtCore import QCoreApplication

from . import program
from .settings import program_setting

# The budget file's columns that are numbers, in its order; each an output of the same name.
BUDGET_NUMBERS = (
    'kind', 'limit_m', 'cells', 'cells_with_data', 'cells_without_data',
    'above_cells', 'above_area_m2', 'above_volume_m3', 'below_cells', 'below_area_m2', 'below_volume_m3',
    'net_volume_m3', 'above_detected_cells', 'above_detected_area_m2', 'above_detected_volume_m3',
    'above_error_m3', 'below_detected_cells', 'below_detected_area_m2', 'below_detected_volume_m3',
    'below_error_m3', 'net_detected_volume_m3', 'net_error_m3', 'output_cells', 'output_area_m2',
    'output_volume_m3', 'confidence_pct', 'sigma_first_m', 'sigma_second_m', 'above_error_independent_m3',
    'below_error_independent_m3', 'net_error_independent_m3',
    'stable_cells', 'stable_median_m', 'stable_nmad_m', 'stable_mean_m', 'stable_std_m')

# The error models of --sigma after "each DEM's σ": the program's option each needs on --help
# (None: every version has it). stable-slope lands with the error models of another branch.
ERROR_MODELS = (('stable', 'the NMAD of the stable ground (needs the stable-ground raster)', None),
                ('stable-slope', 'the stable ground\'s error as a function of slope', 'stable_slope'))


def offers():
    """What the program found now offers; nothing when it is not found."""
    try:
        return program.program_offers(program.find_program(program_setting()))
    except program.ProgramError:
        return {}


def is_given(parameters, name):
    value = parameters.get(name)
    return value is not None and value != '' and not (hasattr(value, 'isNull') and value.isNull())


class DifferenceAlgorithm(QgsProcessingAlgorithm):
    FIRST = 'FIRST'
    SECOND = 'SECOND'
    OUTPUT = 'OUTPUT'
    KIND = 'KIND'
    FIRST_UNIT = 'FIRST_UNIT'
    SECOND_UNIT = 'SECOND_UNIT'
    LIMIT = 'LIMIT'
    CONFIDENCE = 'CONFIDENCE'
    ERRORS = 'ERRORS'
    SIGMA1 = 'SIGMA1'
    SIGMA1_GRID = 'SIGMA1_GRID'
    SIGMA2 = 'SIGMA2'
    SIGMA2_GRID = 'SIGMA2_GRID'
    CLASSES = 'CLASSES'
    STABLE = 'STABLE'
    COREGISTER = 'COREGISTER'
    REPORT = 'REPORT'
    BUDGET_CSV = 'BUDGET_CSV'
    BUDGET_JSON = 'BUDGET_JSON'
    REPORT_HTML = 'REPORT_HTML'
    CLASSES_CSV = 'CLASSES_CSV'

    def tr(self, text):
        return QCoreApplication.translate('DifferenceAlgorithm', text)

    def createInstance(self):
        return DifferenceAlgorithm()

    def name(self):
        return 'difference'

    def displayName(self):
        return self.tr('Difference of two DEMs')

    def group(self):
        return self.tr('Change detection')

    def groupId(self):
        return 'change'

    def shortHelpString(self):
        return self.tr(
            'The difference FIRST - SECOND of two elevation models of the same ground (two epochs of a '
            'survey), saved as a new raster (GeoTIFF or ASCII grid), with the budget of the change (areas and '
            'volumes of lowering and raising, their errors) as a CSV file and as numbers, and its report as '
            'HTML.\n\n'
            'Changes can be left out below a limit in metres, or tested at a confidence level against each '
            'DEM\'s error (σ): a number of metres or an error raster on that DEM\'s cells, or the NMAD of the '
            'stable ground. A class raster gives the budget of each class; a stable-ground raster (cells not 0) '
            'gives the change there, the bias between the epochs.\n\n'
            'Runs the ORMELIX program, found from Processing\'s options (Providers > ORMELIX), else the '
            'environment variable ORMELIX_BINARY, else on PATH.')

    def initAlgorithm(self, config=None):
        offered = offers()
        self.addParameter(QgsProcessingParameterRasterLayer(self.FIRST, self.tr('First DEM (the earlier epoch)')))
        self.addParameter(QgsProcessingParameterRasterLayer(self.SECOND,
                                                            self.tr('Second DEM, on the first DEM\'s cells')))
        self.addParameter(QgsProcessingParameterEnum(
            self.KIND, self.tr('Kind of difference'),
            options=[self.tr('absolute values'), self.tr('negative values (first below second)'),
                     self.tr('positive values (first above second)'), self.tr('signed values (first - second)')],
            defaultValue=3))
        for unit, which in ((self.FIRST_UNIT, 'first'), (self.SECOND_UNIT, 'second')):
            parameter = QgsProcessingParameterEnum(
                unit,
                self.tr('Unit of the {} DEM\'s integers (a raster pair NAME_m2.raw or NAME_m4.raw)').format(which),
                options=list(program.UNITS), defaultValue=0)
            parameter.setFlags(parameter.flags() | QgsProcessingParameterDefinition.FlagAdvanced)
            self.addParameter(parameter)
        self.addParameter(QgsProcessingParameterNumber(
            self.LIMIT, self.tr('Limit: changes of smaller magnitude set to 0 (metres)'),
            type=QgsProcessingParameterNumber.Double, minValue=0.0, optional=True))
        self.addParameter(QgsProcessingParameterNumber(
            self.CONFIDENCE, self.tr('Confidence level of the change test, in percent (instead of a limit)'),
            type=QgsProcessingParameterNumber.Double, minValue=0.0, maxValue=100.0, optional=True))
        self.error_models = [None] + [model for model, _, needs in ERROR_MODELS if needs is None or offered.get(needs)]
        self.addParameter(QgsProcessingParameterEnum(
            self.ERRORS, self.tr('Error of each DEM for the test'),
            options=[self.tr('each DEM\'s σ below (a number or an error raster)')] +
                    [self.tr(text) for model, text, _ in ERROR_MODELS if model in self.error_models],
            defaultValue=0))
        for number, grid, which in ((self.SIGMA1, self.SIGMA1_GRID, 'first'),
                                    (self.SIGMA2, self.SIGMA2_GRID, 'second')):
            self.addParameter(QgsProcessingParameterNumber(
                number, self.tr('σ of the {} DEM (metres)').format(which),
                type=QgsProcessingParameterNumber.Double, minValue=0.0, optional=True))
            self.addParameter(QgsProcessingParameterRasterLayer(
                grid,
                self.tr('σ of the {} DEM as an error raster on its cells (in place of the number)').format(which),
                optional=True))
        self.addParameter(QgsProcessingParameterRasterLayer(
            self.CLASSES, self.tr('Class raster (integers on the first DEM\'s cells): a budget per class'),
            optional=True))
        self.addParameter(QgsProcessingParameterRasterLayer(
            self.STABLE, self.tr('Stable-ground raster (cells not 0 are stable ground)'), optional=True))
        # Coregistration lands with --coregister: offered when the program's --help lists it.
        if offered.get('coregister'):
            self.addParameter(QgsProcessingParameterEnum(
                self.COREGISTER, self.tr('Coregistration of the second DEM on the stable ground'),
                options=[self.tr('none')] + list(program.COREGISTRATIONS), defaultValue=0))
        self.addParameter(QgsProcessingParameterBoolean(self.REPORT, self.tr('Write the report of the change'),
                                                        defaultValue=True))
        self.addParameter(QgsProcessingParameterRasterDestination(self.OUTPUT, self.tr('Difference')))

        self.addOutput(QgsProcessingOutputFile(self.BUDGET_CSV, self.tr('Budget of the change (CSV)')))
        self.addOutput(QgsProcessingOutputHtml(self.REPORT_HTML, self.tr('Report of the change')))
        self.addOutput(QgsProcessingOutputFile(self.CLASSES_CSV, self.tr('Budget of each class (CSV)')))
        self.addOutput(QgsProcessingOutputString(self.BUDGET_JSON, self.tr('Budget of the change (JSON)')))
        for column in BUDGET_NUMBERS:
            self.addOutput(QgsProcessingOutputNumber(column, self.tr('Budget: {}').format(column)))

    # The values of a run, from the parameters.

    def grid_path(self, parameters, name, context, feedback, endings):
        """The file of a raster parameter, as the program reads it; another form is copied to a
        GeoTIFF first, unless the program reads it through GDAL."""
        layer = self.parameterAsRasterLayer(parameters, name, context)
        if layer is None:
            if is_given(parameters, name):
                raise QgsProcessingException(self.tr('{} cannot be loaded as a raster').format(parameters[name]))
            return ''
        path = layer.source()
        if (os.path.isfile(path) and program.has_ending(path, endings)) or self.offered.get('gdal'):
            return path
        # The place where the program reads every raster GDAL reads, once it does.
        from osgeo import gdal
        copy = os.path.join(QgsProcessingUtils.tempFolder(), '{}_{}.tif'.format(name.lower(), id(layer)))
        feedback.pushInfo(self.tr('{} copied to the GeoTIFF {} for the program').format(path, copy))
        if gdal.Translate(copy, path, format='GTiff') is None:
            raise QgsProcessingException(self.tr('GDAL cannot copy {} to a GeoTIFF').format(path))
        return copy

    def sigma(self, parameters, number, grid, which, context, feedback):
        path = self.grid_path(parameters, grid, context, feedback, program.ERROR_GRID_ENDINGS)
        if path:
            return path
        if not is_given(parameters, number):
            raise QgsProcessingException(self.tr('A confidence level needs the {} DEM\'s σ: a number or an error '
                                                 'raster').format(which))
        return self.parameterAsDouble(parameters, number, context)

    def run_values(self, parameters, context, feedback):
        grid = lambda name, endings=program.INPUT_ENDINGS: self.grid_path(parameters, name, context, feedback, endings)
        output = self.parameterAsOutputLayer(parameters, self.OUTPUT, context)
        if not program.has_ending(output, program.OUTPUT_ENDINGS):
            raise QgsProcessingException(self.tr('{}: the difference is written as a GeoTIFF (.tif) or an ASCII '
                                                 'grid (.asc)').format(output))
        choice = lambda name, names: names[self.parameterAsEnum(parameters, name, context)]
        values = program.RunValues(grid(self.FIRST), grid(self.SECOND), output,
                                   kind=choice(self.KIND, program.KINDS),
                                   first_unit=choice(self.FIRST_UNIT, program.UNITS),
                                   second_unit=choice(self.SECOND_UNIT, program.UNITS),
                                   classes=grid(self.CLASSES), stable=grid(self.STABLE),
                                   report=self.parameterAsBoolean(parameters, self.REPORT, context))
        if is_given(parameters, self.LIMIT):
            values.limit = self.parameterAsDouble(parameters, self.LIMIT, context)
        if is_given(parameters, self.CONFIDENCE):
            values.confidence = self.parameterAsDouble(parameters, self.CONFIDENCE, context)
            model = self.error_models[self.parameterAsEnum(parameters, self.ERRORS, context)]
            values.sigma = model if model is not None else (
                self.sigma(parameters, self.SIGMA1, self.SIGMA1_GRID, 'first', context, feedback),
                self.sigma(parameters, self.SIGMA2, self.SIGMA2_GRID, 'second', context, feedback))
        if self.offered.get('coregister'):
            chosen = self.parameterAsEnum(parameters, self.COREGISTER, context)
            values.coregister = program.COREGISTRATIONS[chosen - 1] if chosen > 0 else ''
        return values

    def processAlgorithm(self, parameters, context, feedback):
        try:
            binary = program.find_program(program_setting())
        except program.ProgramError as error:
            raise QgsProcessingException(str(error))
        self.offered = program.program_offers(binary)
        values = self.run_values(parameters, context, feedback)
        feedback.pushCommandInfo(program.command_text(values.arguments(binary)))

        def on_progress(percent, phase, new):
            if new:
                feedback.setProgressText(phase)
            feedback.setProgress(percent)

        def on_message(line):
            if line.startswith('ormelix: '):
                feedback.reportError(line[len('ormelix: '):])
            elif line.strip():
                feedback.pushWarning(line)

        try:
            result = program.run_program(values, binary, on_progress, on_message, feedback.isCanceled)
        except OSError as error:
            raise QgsProcessingException(self.tr('{} does not run: {}').format(binary, error))
        if result is None:
            raise QgsProcessingException(self.tr('Cancelled: the program was stopped and its files removed.'))
        if result.status != 0:
            stop = [line for line in result.messages if line.startswith('ormelix: ')]
            raise QgsProcessingException(stop[-1] if stop else
                                         self.tr('The program ended with status {}').format(result.status))
        files = values.outputs()
        outputs = {self.OUTPUT: files['output'], self.BUDGET_CSV: files['budget'],
                   self.REPORT_HTML: files['report'] or None, self.CLASSES_CSV: files['classes'] or None,
                   self.BUDGET_JSON: json.dumps(result.budget), }
        for column in BUDGET_NUMBERS:
            outputs[column] = result.budget.get(column)
        return outputs
