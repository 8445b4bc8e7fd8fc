"""The README's two pictures of the QGIS provider, made by QGIS itself: the dialogue of
"Difference of two DEMs" filled with the two real epochs of tests/data/geotiff
(docs/qgis_dialogue.png), and what a run of it leaves in QGIS: the dialogue's log, the
difference loaded into the project and drawn over the first epoch, the layers with its
legend and the report in the Results viewer (docs/qgis_results.png).

Run by hand, not by `make test` (it needs an X server, and pictures are no test), under a
virtual one (Debian's xvfb), with the Python that imports qgis.core (Debian's python3-qgis):

    xvfb-run -a -s "-screen 0 1280x900x24" /usr/bin/python3 qgis/screenshots.py build/ormelix [FOLDER]

FOLDER is where the PNGs go, docs/ by default. The run's files go to a temporary folder."""

import os
import shutil
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if len(sys.argv) < 2:
    sys.exit('usage: xvfb-run -a -s "-screen 0 1280x900x24" /usr/bin/python3 qgis/screenshots.py '
             'PATH/TO/ormelix [FOLDER]')
BINARY = os.path.abspath(sys.argv[1])
SHOTS = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else os.path.join(SOURCE, 'docs')
SCRATCH = tempfile.mkdtemp(prefix='ormelix-shots-')
# A QGIS profile of the run's own, and the program the provider runs.
os.environ.update(HOME=os.path.join(SCRATCH, 'home'), ORMELIX_BINARY=BINARY)
sys.path[:0] = [os.path.join(SOURCE, 'qgis'), '/usr/share/qgis/python/plugins']

from qgis.core import (Qgis, QgsApplication, QgsColorRampShader, QgsLayerTreeModel, QgsProject,  # noqa: E402
                       QgsRasterDataProvider, QgsRasterLayer, QgsRasterShader, QgsRasterTransparency,
                       QgsSingleBandPseudoColorRenderer, QgsStyle)
from qgis.gui import QgsLayerTreeView, QgsMapCanvas  # noqa: E402
from qgis.PyQt.QtCore import QEventLoop, QSize, Qt, QTimer  # noqa: E402
from qgis.PyQt.QtGui import QColor, QImage, QPainter  # noqa: E402
from qgis.PyQt.QtWidgets import QSplitter, QTabWidget, QTextEdit  # noqa: E402

APP = QgsApplication([], True)
APP.initQgis()
from processing.core.Processing import Processing  # noqa: E402
from processing.core.ProcessingConfig import ProcessingConfig  # noqa: E402

Processing.initialize()
# The dialogue stays open after the run, its log shown.
ProcessingConfig.setSettingValue(ProcessingConfig.KEEP_DIALOG_OPEN, True)
import ormelix_provider  # noqa: E402
from processing.gui.AlgorithmDialog import AlgorithmDialog  # noqa: E402
from processing.gui.ResultsDock import ResultsDock  # noqa: E402

PLUGIN = ormelix_provider.classFactory(None)
PLUGIN.initProcessing()


def settle(milliseconds=300):
    """Lets the widgets lay themselves out and paint."""
    loop = QEventLoop()
    QTimer.singleShot(milliseconds, loop.quit)
    loop.exec_()


def indexed(image):
    """The picture in 256 of its colours, each other colour as the nearest of them: a PNG
    a few times smaller, the same to the eye (a screenshot's 256 most frequent colours are
    well over 99 % of its pixels)."""
    import numpy
    width, height = image.width(), image.height()
    bits = image.constBits()
    bits.setsize(image.bytesPerLine() * height)
    pixels = numpy.frombuffer(bits, numpy.uint32).reshape(height, image.bytesPerLine() // 4)[:, :width]
    pixels = pixels & 0xffffff
    colours, where, counts = numpy.unique(pixels, return_inverse=True, return_counts=True)
    rgb = lambda values: numpy.stack([(values >> shift) & 0xff for shift in (16, 8, 0)], axis=-1).astype(float)
    distances = lambda chosen: ((rgb(colours)[:, None, :] - rgb(colours[chosen])[None, :, :]) ** 2).sum(axis=2)
    # The 224 most frequent colours, then 32 of the others each farthest from those chosen
    # (a legend's few pixels of red among greys), of at least a few pixels each.
    chosen = list(numpy.argsort(counts)[::-1][:224])
    farthest = distances(chosen).min(axis=1) * (counts >= 4)
    for _ in range(min(32, len(colours) - len(chosen))):
        pick = int(farthest.argmax())
        if farthest[pick] == 0:
            break
        chosen.append(pick)
        farthest = numpy.minimum(farthest, distances([pick])[:, 0])
    palette = colours[chosen]
    nearest = distances(chosen).argmin(axis=1)
    codes = numpy.ascontiguousarray(nearest[where].reshape(height, width).astype(numpy.uint8))
    result = QImage(codes.data, width, height, width, QImage.Format_Indexed8)
    result.setColorTable([0xff000000 | int(colour) for colour in palette])
    return result.copy()


def save(image, name):
    path = os.path.join(SHOTS, name)
    if not indexed(image.convertToFormat(QImage.Format_RGB32)).save(path, 'PNG', 9):
        sys.exit('screenshots: cannot write ' + path)
    print('screenshots: {} ({} x {}, {} bytes)'.format(path, image.width(), image.height(), os.path.getsize(path)))


def side_by_side(*images):
    height = max(image.height() for image in images)
    whole = QImage(sum(image.width() for image in images), height, QImage.Format_RGB32)
    whole.fill(QColor('#d6d6d6'))
    painter = QPainter(whole)
    x = 0
    for image in images:
        painter.drawImage(x, 0, image)
        x += image.width()
    painter.end()
    return whole


def main():
    for name in ('dem_2015.tif', 'dem_2020.tif', 'dem_classes.tif'):
        shutil.copy(os.path.join(SOURCE, 'tests', 'data', 'geotiff', name), SCRATCH)
    project = QgsProject.instance()
    layers = {}
    for name in ('dem_2015', 'dem_2020', 'dem_classes'):
        layers[name] = QgsRasterLayer(os.path.join(SCRATCH, name + '.tif'), name)
        if not layers[name].isValid():
            sys.exit('screenshots: QGIS cannot load {}.tif'.format(name))
        project.addMapLayer(layers[name])
    project.layerTreeRoot().findLayer(layers['dem_classes'].id()).setItemVisibilityChecked(False)
    project.layerTreeRoot().findLayer(layers['dem_2020'].id()).setItemVisibilityChecked(False)

    # The dialogue as a user fills it: the two epochs, the change tested at 90 % against
    # each DEM's sigma, a budget per class, the difference to a GeoTIFF.
    algorithm = QgsApplication.processingRegistry().createAlgorithmById('ormelix:difference')
    dialogue = AlgorithmDialog(algorithm)
    dialogue.setParameters({'FIRST': layers['dem_2015'], 'SECOND': layers['dem_2020'], 'KIND': 3,
                            'CONFIDENCE': 90, 'SIGMA1': 0.2, 'SIGMA2': 0.15, 'CLASSES': layers['dem_classes'],
                            'OUTPUT': os.path.join(SCRATCH, 'change_2015_2020.tif')})
    dialogue.resize(1060, 760)
    dialogue.show()
    settle(800)
    save(dialogue.grab().toImage(), 'qgis_dialogue.png')

    # The run, as the dialogue's Run button starts it.
    finished = []
    loop = QEventLoop()
    dialogue.algorithmFinished.connect(lambda ok, results: (finished.append((ok, results)), loop.quit()))
    results_dock = ResultsDock()
    dialogue.runAlgorithm()
    QTimer.singleShot(120000, loop.quit)
    if not finished:
        loop.exec_()
    if not finished or not finished[0][0]:
        sys.exit('screenshots: the algorithm did not finish: {}'.format(finished))
    results = finished[0][1]
    # The log beside the parameters' help would be too wide: the help folded away.
    splitter = dialogue.findChild(QSplitter)
    if splitter is not None:
        splitter.setSizes([1, 0])
    dialogue.resize(820, 760)
    settle(800)
    for text in dialogue.findChildren(QTextEdit):
        text.verticalScrollBar().setValue(text.verticalScrollBar().maximum())
    settle(300)
    log = dialogue.grab().toImage()

    # The difference the run loaded into the project, blue where the ground sank (FIRST -
    # SECOND above 0) and red where it rose, no colour where no change was detected: over
    # the first epoch, in grey.
    difference = [layer for layer in project.mapLayers().values() if layer.source() == results['OUTPUT']]
    if not difference:
        sys.exit('screenshots: the difference was not loaded into the project')
    difference = difference[0]
    difference.setName('change 2015-2020 (m)')
    shader = QgsRasterShader()
    ramp = QgsColorRampShader(-2.0, 2.0, QgsStyle.defaultStyle().colorRamp('RdBu'))
    ramp.classifyColorRamp(9)
    shader.setRasterShaderFunction(ramp)
    renderer = QgsSingleBandPseudoColorRenderer(difference.dataProvider(), 1, shader)
    renderer.setOpacity(0.85)
    unchanged = QgsRasterTransparency.TransparentSingleValuePixel()
    unchanged.min, unchanged.max, unchanged.percentTransparent = 0.0, 0.0, 100.0
    transparency = QgsRasterTransparency()
    transparency.setTransparentSingleValuePixelList([unchanged])
    renderer.setRasterTransparency(transparency)
    difference.setRenderer(renderer)
    first = layers['dem_2015']
    first.setResamplingStage(Qgis.RasterResamplingStage.Provider)
    first.dataProvider().setZoomedInResamplingMethod(QgsRasterDataProvider.ResamplingMethod.Bilinear)
    first.renderer().setOpacity(0.5)
    root = project.layerTreeRoot()
    # The difference first in the layers panel, its legend alone unfolded.
    node = root.findLayer(difference.id())
    root.insertChildNode(0, node.clone())
    root.removeChildNode(node)
    for node in root.findLayers():
        node.setExpanded(node.layerId() == difference.id())

    canvas = QgsMapCanvas()
    canvas.setCanvasColor(QColor('white'))
    canvas.setDestinationCrs(layers['dem_2015'].crs())
    canvas.setLayers([difference, first])
    canvas.setExtent(layers['dem_2015'].extent())
    view = QgsLayerTreeView()
    model = QgsLayerTreeModel(root)
    view.setModel(model)
    panels = QTabWidget()
    panels.addTab(view, 'Layers')
    side = QSplitter(Qt.Vertical)
    side.addWidget(panels)
    side.addWidget(results_dock)
    whole = QSplitter(Qt.Horizontal)
    whole.addWidget(side)
    whole.addWidget(canvas)
    whole.setSizes([260, 500])
    side.setSizes([520, 240])
    whole.resize(QSize(760, log.height()))
    whole.show()
    settle(800)
    canvas.setExtent(layers['dem_2015'].extent())
    canvas.refresh()
    canvas.waitWhileRendering()
    settle(1500)
    save(side_by_side(log, whole.grab().toImage()), 'qgis_results.png')
    dialogue.close()


try:
    main()
finally:
    APP.exitQgis()
    shutil.rmtree(SCRATCH, ignore_errors=True)
