// taviweb-mock.js as an ES module (see taviweb.mjs).
import './taviweb-mock.js';

const TaviWebMock = globalThis.TaviWebMock;
export default TaviWebMock;
export const install = TaviWebMock.install;
export const SAMPLE_DEVICES = TaviWebMock.SAMPLE_DEVICES;
