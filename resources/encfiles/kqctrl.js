// Cursor overlay of the lecture player. Recorded lectures carry the presenter's pointer as a
// track of positions in slide coordinates (800 x 600); when the project's showcursor setting is
// on, the player calls into this script to draw the pointer above the slide area.
(function (global) {
  'use strict';

  var SLIDE_WIDTH = 800;
  var SLIDE_HEIGHT = 600;

  var state = {
    area: null,
    pointer: null,
    enabled: false
  };

  function makePointer(doc) {
    var pointer = doc.createElement('div');
    pointer.style.position = 'absolute';
    pointer.style.width = '12px';
    pointer.style.height = '12px';
    pointer.style.marginLeft = '-6px';
    pointer.style.marginTop = '-6px';
    pointer.style.borderRadius = '6px';
    pointer.style.background = 'rgba(220, 30, 30, 0.8)';
    pointer.style.pointerEvents = 'none';
    pointer.style.display = 'none';
    pointer.style.zIndex = '1000';
    return pointer;
  }

  // area: the element that shows the slides; enabled: the project's showcursor value ("1" or "0").
  function init(area, enabled) {
    if (!area || !area.ownerDocument) return false;
    if (state.pointer && state.pointer.parentNode) state.pointer.parentNode.removeChild(state.pointer);
    state.area = area;
    state.enabled = String(enabled) !== '0';
    state.pointer = makePointer(area.ownerDocument);
    if (!area.style.position) area.style.position = 'relative';
    area.appendChild(state.pointer);
    return true;
  }

  // x, y in slide coordinates; the pointer follows the area's current size.
  function moveTo(x, y) {
    if (!state.enabled || !state.pointer || !state.area) return;
    if (!isFinite(x) || !isFinite(y) || x < 0 || y < 0 || x > SLIDE_WIDTH || y > SLIDE_HEIGHT) {
      hide();
      return;
    }
    var width = state.area.clientWidth || SLIDE_WIDTH;
    var height = state.area.clientHeight || SLIDE_HEIGHT;
    state.pointer.style.left = Math.round(x * width / SLIDE_WIDTH) + 'px';
    state.pointer.style.top = Math.round(y * height / SLIDE_HEIGHT) + 'px';
    state.pointer.style.display = 'block';
  }

  function hide() {
    if (state.pointer) state.pointer.style.display = 'none';
  }

  global.kqctrl = {
    init: init,
    moveTo: moveTo,
    hide: hide
  };
})(this);
