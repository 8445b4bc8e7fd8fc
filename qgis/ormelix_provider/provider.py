"""The ORMELIX provider of QGIS Processing: its one algorithm and its setting."""

from qgis.core import QgsProcessingProvider

from .algorithm import DifferenceAlgorithm
from .settings import BINARY_SETTING


class OrmelixProvider(QgsProcessingProvider):

    def id(self):
        return 'ormelix'

    def name(self):
        return 'ORMELIX'

    def longName(self):
        return 'ORMELIX: the difference of two DEMs and the budget of the change'

    def load(self):
        try:
            from processing.core.ProcessingConfig import ProcessingConfig, Setting
        except ImportError:
            pass
        else:
            ProcessingConfig.addSetting(Setting(
                self.name(), BINARY_SETTING,
                self.tr('ORMELIX program (empty: $ORMELIX_BINARY, else ormelix on PATH)'),
                '', valuetype=Setting.FILE))
            ProcessingConfig.readSettings()
        self.refreshAlgorithms()
        return True

    def unload(self):
        try:
            from processing.core.ProcessingConfig import ProcessingConfig
        except ImportError:
            return
        if BINARY_SETTING in ProcessingConfig.settings:
            ProcessingConfig.removeSetting(BINARY_SETTING)

    def loadAlgorithms(self):
        self.addAlgorithm(DifferenceAlgorithm())

    # The forms the program writes.
    def supportedOutputRasterLayerExtensions(self):
        return ['tif', 'asc']

    def defaultRasterFileExtension(self):
        return 'tif'
