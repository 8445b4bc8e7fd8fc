"""The plugin that brings the ORMELIX provider into QGIS and qgis_process."""

from qgis.core import QgsApplication

from .provider import OrmelixProvider


class OrmelixPlugin:

    def __init__(self, iface=None):
        self.iface = iface
        self.provider = None

    def initProcessing(self):
        self.provider = OrmelixProvider()
        QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
