"""ORMELIX's QGIS Processing provider: "Difference of two DEMs" runs the ORMELIX program."""


def classFactory(iface):
    from .plugin import OrmelixPlugin
    return OrmelixPlugin(iface)
