"""The provider's setting in Processing's options: the program's file."""

BINARY_SETTING = 'ORMELIX_BINARY'


def program_setting():
    """The program's file as Processing's options name it; '' when they do not, or where
    Processing's options are not loaded (a script on qgis.core alone)."""
    try:
        from processing.core.ProcessingConfig import ProcessingConfig
    except ImportError:
        return ''
    return ProcessingConfig.getSetting(BINARY_SETTING) or ''
